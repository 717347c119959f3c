#include "wipe/TForm_Confirmation.h"

#include <QPushButton>

#include "platform/AskUser.h"
#include "platform/DriveIdentity.h"
#include "ui_TForm_Confirmation.h"
#include "widgets/DriveList.h"

TForm_Confirmation::TForm_Confirmation(QWidget* owner, int step, char letter)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TForm_Confirmation>()) {
  ui_->setupUi(this);
  const QString drive = QStringLiteral("Drive ") + QChar::fromLatin1(letter) + QLatin1Char(':');
  FrameOptions frame;
  frame.title = drive;
  SetupFrame(frame);
  ui_->Label_BoldDrive->setText(drive);

  // The digit after "Confirmation " is the step.
  QString line = QStringLiteral("Confirmation 1 of 2");
  line[13] = QChar::fromLatin1(static_cast<char>('0' + step));
  ui_->Label_Confirmation->setText(line);

  // What the letter stands for, from the same table the drive list shows.
  const std::optional<platform::DriveEntry> entry = GetDriveListSource().table().Find(letter);
  ui_->Label_DriveIdentity->setText(
      entry ? QString::fromStdString(platform::DescribeDrive(platform::IdentifyDrive(*entry))) : QString());

  connect(ui_->Button_Yes, &QPushButton::clicked, this, [this] { done(ResultYes); });
  connect(ui_->Button_No, &QPushButton::clicked, this, [this] { done(ResultNo); });
}

TForm_Confirmation::~TForm_Confirmation() = default;
