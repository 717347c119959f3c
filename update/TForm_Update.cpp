#include "update/TForm_Update.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>

#include "platform/qt/Ansi.h"
#include "platform/qt/QtMessageTarget.h"
#include "platform/qt/ShellOpen.h"
#include "ui_TForm_Update.h"
#include "widgets/TXAMessageBox.h"

namespace {

std::string g_testUrl;
int g_testWaitMs = 0;

constexpr char kLocalFile[] = "version.dat";

// The version file is kept in a folder of the program's own, never in the
// folder the program was started from: a file of that name there belongs
// to the user, and that folder may not be writable at all.
QString PrivateBase() {
  const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime;
  const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
  QDir().mkpath(cache);
  return cache;
}

// Whether `file` announces a newer build than `stamp`: the first bytes
// compared as unsigned values, the first difference deciding. Only the
// bytes both have take part; a file that is a shorter copy of the stamp's
// beginning, and an empty stamp, mean no update.
bool IsNewerBuild(const std::string& stamp, const QByteArray& file) {
  const size_t n = std::min(stamp.size(), static_cast<size_t>(file.size()));
  for (size_t i = 0; i < n; ++i) {
    const auto ours = static_cast<unsigned char>(stamp[i]);
    const auto theirs = static_cast<unsigned char>(file[static_cast<qsizetype>(i)]);
    if (ours != theirs) return ours < theirs;
  }
  return false;
}

}  // namespace

void TForm_Update::SetVersionFileUrlForTests(const std::string& url) { g_testUrl = url; }
void TForm_Update::SetWaitForTests(int ms) { g_testWaitMs = ms; }

TForm_Update::TForm_Update(QWidget* owner)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TForm_Update>()) {
  ui_->setupUi(this);
  FrameOptions frame;
  frame.title = QStringLiteral("Update");
  SetupFrame(frame);
  clDownLoader1_.setObjectName(QStringLiteral("clDownLoader1"));
  clDownLoader1_.SetTimeOut(kDownloadTimeOut);
  Timer1_.setObjectName(QStringLiteral("Timer1"));
  Timer1_.setSingleShot(true);
  Timer1_.setInterval(g_testWaitMs > 0 ? g_testWaitMs : kWaitMs);
  connect(&Timer1_, &QTimer::timeout, this, &TForm_Update::Timer1Timer);
  connect(&clDownLoader1_, &TclDownLoader::OnStatusChanged, this,
          &TForm_Update::clDownLoader1StatusChanged);
  connect(ui_->Button_Cancel, &QPushButton::clicked, this, &TForm_Update::Button_CancelClick);
}

TForm_Update::~TForm_Update() = default;

QString TForm_Update::LocalCopyPath() const {
  return folder_ ? QDir(folder_->path()).filePath(QString::fromLatin1(kLocalFile)) : QString();
}

void TForm_Update::showEvent(QShowEvent* event) {
  TSkinnedForm::showEvent(event);
  // Once: a window restored after being minimised is shown again.
  if (opened_) return;
  opened_ = true;
  // Centred on the screen, whichever window opened it.
  if (QScreen* display = screen()) {
    move(display->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  }
  waiting_ = true;
  ui_->Animate1->Seek(0);
  ui_->Animate1->setVisible(true);
  ui_->Animate1->Play(1, 25);
  Timer1_.start();
  // Started from the message queue, once the window is on the screen.
  platform::PostWindowMessage(this, WM_UPDATE_START_DOWNLOAD, 0, 0);
}

bool TForm_Update::event(QEvent* event) {
  if (event->type() == platform::WindowMessageEvent::EventType()) {
    auto* message = static_cast<platform::WindowMessageEvent*>(event);
    if (message->message == WM_UPDATE_START_DOWNLOAD) {
      StartDownload();
      return true;
    }
  }
  return TSkinnedForm::event(event);
}

void TForm_Update::StartDownload() {
  if (!waiting_) return;
  // Created exclusively (mode 0700); the file in it is created 0600.
  folder_ = std::make_unique<QTemporaryDir>(PrivateBase() + QStringLiteral("/nullifex-update-XXXXXX"));
  if (!folder_->isValid()) {
    // Nowhere to store it: the window waits for its timer, as for any
    // other failed download.
    folder_.reset();
    return;
  }
  clDownLoader1_.SetLocalFolder(folder_->path());
  clDownLoader1_.SetLocalFile(QString::fromLatin1(kLocalFile));
  const std::string url = g_testUrl.empty() ? settings_.GetVersionFileUrl() : g_testUrl;
  clDownLoader1_.SetURL(platform::FromAnsi(url));
  clDownLoader1_.Start(true);
}

void TForm_Update::clDownLoader1StatusChanged(QObject*, TclProcessStatus status) {
  // Only a complete download counts; every failure is left to Timer1.
  if (status != psSuccess || !waiting_) return;
  waiting_ = false;
  Timer1_.stop();

  QFile file(LocalCopyPath());
  if (!file.open(QIODevice::ReadOnly)) {
    ShowProblem();
    done(ResultCancel);
    return;
  }
  // Only the stamp's length can take part in the comparison, so no more
  // is read, however large the file.
  const std::string stamp = settings_.GetBuildStamp();
  const QByteArray head = file.read(static_cast<qint64>(stamp.size()));
  file.close();
  // A completed download restarts the weekly period, whatever it says.
  settings_.SetLastCheck(static_cast<int32_t>(CurrentTimeSeconds()));
  updateAvailable_ = IsNewerBuild(stamp, head);
  folder_.reset();  // deletes the local copy
  hide();

  if (updateAvailable_) {
    const int answer =
        SkinnedMessageBox(this, kUpdateAvailableText, "Update Available", ButtonsYesNo, IconQuestion);
    if (answer == ResultYes) (void)platform::ShellOpen(settings_.GetUpdatePageUrl());
  } else {
    (void)SkinnedMessageBox(this, kNoUpdateText, "No Updates Available", ButtonsOk, IconInfo);
  }
  done(ResultOk);
}

void TForm_Update::Timer1Timer() {
  if (!waiting_) return;
  waiting_ = false;
  Timer1_.stop();
  // Whatever arrives later is no longer wanted.
  clDownLoader1_.Stop();
  ShowProblem();
  done(ResultCancel);
}

void TForm_Update::Button_CancelClick() {
  waiting_ = false;
  clDownLoader1_.Stop();
  Timer1_.stop();
  TSkinnedForm::reject();
}

void TForm_Update::reject() { Button_CancelClick(); }

void TForm_Update::ShowProblem() {
  (void)SkinnedMessageBox(this, kUpdateProblemText, "Update", ButtonsOk, IconCaution);
}
