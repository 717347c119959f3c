#include "wipe/TForm_Confirmation.h"

#include <QLabel>
#include <QPushButton>

#include "platform/AskUser.h"
#include "platform/DriveIdentity.h"
#include "ui_TForm_Confirmation.h"
#include "widgets/DriveList.h"

namespace {
// The line breaks only between its parts; a path too long for one line
// loses its middle, never its file name.
void ShowIdentity(QLabel& label, const std::string& line) {
  const QString separator = QStringLiteral(" \u00B7 ");
  QStringList parts = QString::fromStdString(line).split(separator);
  if (!parts.isEmpty()) parts[0] = label.fontMetrics().elidedText(parts[0], Qt::ElideMiddle, label.width());
  for (int i = 1; i < parts.size(); ++i) parts[i].replace(QLatin1Char(' '), QChar(0x00A0));
  label.setText(parts.join(separator));
}
}  // namespace

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
  if (entry) ShowIdentity(*ui_->Label_DriveIdentity, platform::DescribeDrive(platform::IdentifyDrive(*entry)));

  connect(ui_->Button_Yes, &QPushButton::clicked, this, [this] { done(ResultYes); });
  connect(ui_->Button_No, &QPushButton::clicked, this, [this] { done(ResultNo); });
}

TForm_Confirmation::~TForm_Confirmation() = default;
