// Renders every window of the program offscreen into PNG files, for review:
//   nfx_screenshots OUTPUT_FOLDER
// scripts/screenshots.sh runs it with a private settings folder, so the
// user's own settings are neither read nor changed.
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTimer>
#include <cstdio>

#include "app/Application.h"
#include "widgets/DriveList.h"
#include "app/TForm_Help.h"
#include "widgets/TForm_PleaseWait.h"
#include "app/TMainForm.h"
#include "widgets/TXAMessageBox.h"
#include "platform/RegistryStore.h"
#include "settings/CSettings.h"
#include "settings/TForm_ConfigureLogging.h"
#include "settings/TForm_DNSMessage.h"
#include "ui_TForm_WipeMedia.h"
#include "ui_TForm_Wiper.h"
#include "settings/TForm_Tools.h"
#include "update/TForm_Update.h"
#include "ui_TXAMessageBox.h"
// Sector viewer shots.
#include <QLineEdit>
#include "platform/MemoryBackend.h"
#include "platform/Paths.h"
#include "viewer/TForm_ViewSectors.h"
#include "ui_TForm_ViewSectors.h"
#include "wipe/TForm_Confirmation.h"
#include "wipe/TForm_WipeMedia.h"
#include "wipe/TForm_Wiper.h"
#include "wipe/WipeTexts.h"
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

namespace {
QString g_out;
int g_failures = 0;

void Save(QWidget& w, const QString& name) {
  w.show();
  QApplication::processEvents();
  QPixmap shot = w.grab();
  if (!w.mask().isEmpty()) {
    // As the window system shows it: outside the rounded outline is not
    // part of the window (the offscreen platform itself ignores masks).
    QPixmap shaped(shot.size());
    shaped.fill(Qt::transparent);
    QPainter p(&shaped);
    p.setClipRegion(w.mask());
    p.drawPixmap(0, 0, shot);
    p.end();
    shot = shaped;
  }
  const QString path = g_out + "/" + name + ".png";
  if (!shot.save(path)) {
    std::fprintf(stderr, "nfx_screenshots: cannot write %s\n", qPrintable(path));
    ++g_failures;
  } else {
    std::printf("%s\n", qPrintable(path));
  }
}

void SetBranding(const char* name, const std::string& text) {
  platform::RegistryKey key;
  if (key.OpenOrCreate(kSettingsKey)) {
    if (text.empty()) (void)key.DeleteValue(name);
    else (void)key.WriteRaw(name, platform::kRegBinary, MaskBrandingText(text));
  }
}

void MessageBoxes() {
  struct Case {
    const char* name;
    const char* text;
    const char* title;
    int buttons, icon;
  };
  const Case cases[] = {
      {"msgbox_ok_info", "The drive was wiped successfully.", "Wipe Complete", ButtonsOk, IconInfo},
      {"msgbox_okcancel_caution",
       "The drive is in use by another program.  Close every window that shows its files, then "
       "press Ok to try again or Cancel to stop.",
       "Drive In Use", ButtonsOkCancel, IconCaution},
      {"msgbox_yesno_question",
       "Would you like to go online to check for the latest version of Nullifex?",
       "Check for Updates", ButtonsYesNo, IconQuestion},
      {"msgbox_yesallnoabort_caution",
       "A write error occurred on sector 1,234,567.\nDo you want to go on?\nYes to All ignores "
       "every further error.",
       "Write Error", ButtonsYesAllNoAbort, IconCaution},
      {"msgbox_abortretryignore_error", "The drive cannot be read: the device is not ready.",
       "Read Error", ButtonsAbortRetryIgnore, IconError},
      {"msgbox_retrycancel_error", "The medium is write-protected.", "Cannot Wipe Drive",
       ButtonsRetryCancel, IconError},
  };
  for (const Case& c : cases) {
    TXAMessageBox box(nullptr);
    box.Fill(c.text, c.title, c.buttons, c.icon);
    Save(box, c.name);
  }
}

void DriveList() {
  using platform::DriveEntry;
  std::vector<DriveEntry> entries;
  auto add = [&](char letter, uint32_t type) {
    DriveEntry e;
    e.letter = letter;
    e.type = type;
    e.path = "/dev/null";
    entries.push_back(e);
  };
  add('A', platform::DRIVE_REMOVABLE);
  add('C', platform::DRIVE_FIXED);
  add('D', platform::DRIVE_CDROM);
  add('E', platform::DRIVE_REMOVABLE);
  add('F', platform::DRIVE_REMOVABLE);
  add('G', platform::DRIVE_FIXED);
  DriveListSource source;
  source.table = [entries] { return platform::DriveTable(entries); };
  source.volumeLabel = [](char letter, char* buffer, uint32_t size) {
    const char* label = letter == 'E' ? "USB STICK" : (letter == 'G' ? "BACKUP" : "N/A");
    std::snprintf(buffer, size, "%s", label);
    return true;
  };
  SetDriveListSource(source);

  TSkinnedForm form(nullptr);
  form.resize(300, 200);
  auto* panel = new QFrame(&form);
  panel->setObjectName("Panel1");
  panel->setGeometry(5, 31, 291, 130);
  auto* combo = new TDriveComboBox(panel);
  combo->setObjectName("DriveComboBox1");
  combo->setGeometry(16, 16, 180, 23);
  FrameOptions frame;
  frame.title = "Drive list";
  form.SetupFrame(frame);
  FillDriveList(*combo, 'e');
  Save(form, "drivelist");
  combo->showPopup();
  QApplication::processEvents();
  if (QWidget* popup = combo->view()->window()) {
    const QPixmap shot = popup->grab();
    shot.save(g_out + "/drivelist_open.png");
    std::printf("%s\n", qPrintable(g_out + "/drivelist_open.png"));
  }
  combo->hidePopup();
}

// The sector viewer on the demo floppy (scripts/screenshots.sh maps it as
// A:): browsing, a sector the medium cannot read, a drive that cannot be
// read (with its message), and the dirty sectors of a verification.
void SectorViewer(QWidget* owner) {
  const std::string demo = platform::DataDir() + "/demo-floppy.img";
  if (!QFile::exists(QString::fromStdString(demo))) {
    std::fprintf(stderr, "nfx_screenshots: no demo floppy at %s, no viewer shots\n", demo.c_str());
    ++g_failures;
    return;
  }
  SetDriveListSource(MappedDriveListSource());
  platform::RegistryKey key;
  if (key.OpenOrCreate(kSettingsKey)) (void)key.WriteDword("DNS", 1);  // its own shot is dnsmessage
  auto goTo = [](TForm_ViewSectors& view, const char* sector) {
    view.ui()->Edit_CurSector->setText(QString::fromLatin1(sector));
    view.Button_GoToSectorClick();
  };
  {
    TForm_ViewSectors view(owner, nullptr, 'A');
    view.SetOpenPause(std::chrono::milliseconds(0));
    Save(view, "viewer_intro");
    view.OpenDriveView('A');
    goTo(view, "19");  // the root folder: the demo's file names
    Save(view, "viewer_browse");
  }
  {
    auto disk = platform::MemoryDisk::FromImage(demo);
    disk->unreadable.insert(1400);
    TForm_ViewSectors view(owner, nullptr, 'A', [disk](char) { return platform::MakeMemoryBackend(disk); });
    view.SetOpenPause(std::chrono::milliseconds(0));
    view.show();
    view.OpenDriveView('A');
    goTo(view, "1400");
    Save(view, "viewer_bad_sector");
  }
  {
    // A floppy drive with no disk in it.
    auto empty = std::make_shared<platform::MemoryDisk>();
    empty->noMedium = true;
    TForm_ViewSectors view(owner, nullptr, 'A', [empty](char) { return platform::MakeMemoryBackend(empty); });
    view.SetOpenPause(std::chrono::milliseconds(0));
    view.show();
    QTimer::singleShot(50, [] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        Save(*box, "viewer_drive_error_message");
        QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
      }
    });
    view.OpenDriveView('A');
    Save(view, "viewer_unreadable_drive");
  }
  {
    CDirtyBitmap dirty(2879, true);
    for (uint32_t sector = 33; sector < 36; ++sector) dirty.MarkDirty(sector);  // README.TXT's first data
    TForm_ViewSectors view(owner, &dirty, 'A');
    view.SetOpenPause(std::chrono::milliseconds(0));
    view.show();
    QApplication::processEvents();  // the drive opens by itself
    view.Button_NextClick();
    Save(view, "viewer_dirty");
  }
  (void)key.DeleteValue("DNS");
}


// ---- the wipe windows ------------------------------------------------------
// The wizard's steps, the confirmations, the wipe window mid-pass and at its
// end (a real wipe of a slowed in-memory disk), and every box the wipe can
// end in. The drives are images in a folder of this run's own.
void SaveModalSoon(const QString& name) {
  QTimer::singleShot(50, [name] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      Save(*box, name);
      box->close();
    }
  });
}

std::unique_ptr<TForm_Wiper> WiperOnDisk(QWidget* owner, double bytesPerSecond, uint64_t sectors,
                                         int passes, uint64_t unwritable = 0) {
  auto disk = std::make_shared<platform::MemoryDisk>(sectors);
  disk->bytesPerSecond = bytesPerSecond;
  if (unwritable) disk->unwritable.insert(unwritable);
  auto wiper = std::make_unique<TForm_Wiper>(owner);
  DriveWipeThread::Environment env;
  env.backends = [disk](char) { return platform::MakeMemoryBackend(disk); };
  env.notifyShell = [](char) {};
  wiper->SetDriveEnvironment(env);
  WipeOptions options;
  options.driveLetter = 'e';
  options.overwriteCount = passes;
  if (!wiper->StartWipe(options)) ++g_failures;
  return wiper;
}

void WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 3000 && !done(); ++i) {
    QApplication::processEvents();
    QThread::msleep(5);
  }
}

void WipeWindows(QWidget* owner) {
  QTemporaryDir dir;
  const QString stick = dir.filePath("usb-stick.img"), disk = dir.filePath("backup-disk.img");
  for (const QString& path : {stick, disk}) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(path == stick ? 15931539456LL / 1000 : 80LL << 20)) ++g_failures;
  }
  using platform::DriveEntry;
  std::vector<DriveEntry> entries(3);
  entries[0] = {'C', platform::DRIVE_FIXED, "/dev/sda2", "/", false, true};
  entries[1] = {'E', platform::DRIVE_REMOVABLE, stick.toStdString(), "", true, false};
  entries[2] = {'F', platform::DRIVE_FIXED, disk.toStdString(), "", true, false};
  DriveListSource source;
  source.table = [entries] { return platform::DriveTable(entries); };
  source.volumeLabel = [](char letter, char* buffer, uint32_t size) {
    std::snprintf(buffer, size, "%s", letter == 'E' ? "USB STICK" : letter == 'F' ? "BACKUP" : "SYSTEM");
    return true;
  };
  SetDriveListSource(source);

  {
    TForm_WipeMedia wizard(owner);
    Save(wizard, "wipe_step1");
    wizard.ui()->DriveComboBox1->SetDrive('e');
    wizard.Button_NextClick();
    Save(wizard, "wipe_step2");
    wizard.Button_NextClick();
    Save(wizard, "wipe_step3");
    wizard.ui()->ComboBox_Overwrites->setCurrentIndex(1);
    Save(wizard, "wipe_step3_level");
    wizard.Button_BackClick();
    wizard.Button_BackClick();
    wizard.ui()->DriveComboBox1->SetDrive('c');
    SaveModalSoon("wipe_box_system_drive_step1");
    wizard.Button_NextClick();
  }
  for (int step : {1, 2}) {
    TForm_Confirmation confirmation(owner, step, 'E');
    Save(confirmation, QStringLiteral("wipe_confirmation%1").arg(step));
  }

  {
    // Mid-pass: 2 of 3 on a disk slowed to 20 MB/s.
    auto wiper = WiperOnDisk(owner, 20e6, 128 * 2048, 3);
    wiper->show();
    WaitFor([&] { return wiper->ui()->Label_Info->text() == "Overwrite 2 of 3" && wiper->ui()->ProgressWipe->value() >= 40; });
    Save(*wiper, "wipe_progress");
    // The cancel question over the window, answered Yes: the run stops.
    QTimer::singleShot(50, [] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        Save(*box, "wipe_cancel_question");
        if (auto* yes = box->findChild<QPushButton*>("Button_Yes")) yes->click();
      }
    });
    wiper->Button_CancelClick();
    WaitFor([&] { return !wiper->HasThread(); });
  }
  FormatWhenFinished = false;
  for (const auto& [name, unwritable] : {std::pair{"wipe_finished", 0}, std::pair{"wipe_finished_error", 1000}}) {
    auto wiper = WiperOnDisk(owner, 0, 2048, 1, unwritable);
    wiper->show();
    WaitFor([&] { return !wiper->HasThread(); });
    Save(*wiper, name);
  }
  FormatWhenFinished = true;
  for (uint32_t code : {19u, 20002u, 20003u, 29u}) {
    const WipeMessageText m = WipeFailedMessage(code);
    TXAMessageBox box(nullptr);
    box.Fill(m.text, m.title, ButtonsOk, IconError);
    Save(box, QStringLiteral("wipe_failed_%1").arg(code));
  }
  for (uint32_t code : {21u, 20001u, 5u}) {
    const WipeMessageText m = StartErrorMessage(code);
    TXAMessageBox box(nullptr);
    box.Fill(m.text, m.title, ButtonsOk, IconError);
    Save(box, QStringLiteral("wipe_start_error_%1").arg(code));
  }
}

// The Tools window, the report-log window, and the update window waiting
// and its three outcome boxes.
void ToolsAndUpdate(QWidget& owner) {
  {
    TForm_Tools tools(&owner);
    Save(tools, "tools");
  }
  {
    platform::RegistryKey key;
    if (key.OpenOrCreate(kSettingsKey)) (void)key.WriteString("LogLoc", "/home/user/Nullifex Reports");
    CSettings().SetLogEnabled(true);
    TForm_ConfigureLogging logging(&owner);
    Save(logging, "configurelogging");
    CSettings().SetLogEnabled(false);
  }
  {
    // A local port where nothing listens: the review tool never goes online.
    TForm_Update::SetVersionFileUrlForTests("http://127.0.0.1:9/Nullifex/version.dat");
    TForm_Update update(&owner);
    Save(update, "update_waiting");
    update.reject();
    TForm_Update::SetVersionFileUrlForTests("");
  }
  const struct {
    const char* name;
    const char* text;
    const char* title;
    int buttons, icon;
  } boxes[] = {
      {"update_available", kUpdateAvailableText, "Update Available", ButtonsYesNo, IconQuestion},
      {"update_none", kNoUpdateText, "No Updates Available", ButtonsOk, IconInfo},
      {"update_problem", kUpdateProblemText, "Update", ButtonsOk, IconCaution},
  };
  for (const auto& b : boxes) {
    TXAMessageBox box(&owner);
    box.Fill(b.text, b.title, b.buttons, b.icon);
    Save(box, b.name);
  }
}

}  // namespace

#include <QElapsedTimer>
#include <QProgressBar>
#include <functional>
#include <string>

#include "platform/DriveTable.h"
#include "verify/TForm_VerifyDrive.h"

// The verify window through real runs on raw images of its own, mapped as
// E: (a large one with data near its start) and F: (all zeros).
namespace verifyshots {

bool MakeRawImage(const std::string& path, uint64_t size, bool withData) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = true;
  if (withData) {
    // Text here and there, as files leave it; the start stays zero, the
    // reference a raw volume is judged by.
    std::string block;
    for (int i = 0; block.size() < (1u << 20); ++i) block += "Quarterly figures, draft " + std::to_string(i) + "\n";
    for (uint64_t at : {size / 8, size / 5, size / 2}) {
      ok = ok && std::fseek(f, static_cast<long>(at), SEEK_SET) == 0 &&
           std::fwrite(block.data(), 1, block.size(), f) == block.size();
    }
  }
  ok = ok && std::fseek(f, static_cast<long>(size - 1), SEEK_SET) == 0 && std::fputc(0, f) != EOF;
  return std::fclose(f) == 0 && ok;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// The window with the question box over it, as the user sees them.
void SaveWithBox(QWidget& window, QWidget& box, const QString& name) {
  QPixmap shot = window.grab();
  QPainter p(&shot);
  const QPixmap boxShot = box.grab();
  p.drawPixmap((shot.width() - boxShot.width()) / 2, (shot.height() - boxShot.height()) / 2, boxShot);
  p.end();
  const QString path = g_out + "/" + name + ".png";
  if (shot.save(path)) {
    std::printf("%s\n", qPrintable(path));
  } else {
    ++g_failures;
  }
}

// Answers every question: the stop question Yes, any other No; the first
// "View Dirty Sectors" question is saved with the window behind it.
class Answerer {
 public:
  explicit Answerer(QWidget& window) : window_(window) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start(10);
  }

 private:
  void Tick() {
    auto* box = qobject_cast<TXAMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    const bool stop = box->windowTitle() == QLatin1String("Stop Drive Verification");
    if (box->windowTitle() == QLatin1String("View Dirty Sectors") && !savedQuestion_) {
      savedQuestion_ = true;
      SaveWithBox(window_, *box, "verify_finished_dirty_question");
    }
    (stop ? box->ui()->Button_Yes : box->ui()->Button_No)->click();
  }
  QWidget& window_;
  QTimer timer_;
  bool savedQuestion_ = false;
};

void Pick(TForm_VerifyDrive& window, const char* drive) {
  auto* combo = window.findChild<TDriveComboBox*>("DriveComboBox1");
  const int item = combo->findText(QString::fromLatin1(drive), Qt::MatchStartsWith);
  combo->setCurrentIndex(item);
  emit combo->activated(item);
}

int Meter(QWidget& window) { return window.findChild<QProgressBar*>("Progress_Verify")->value(); }

void VerifyWindow(QWidget* owner) {
  // The drive map takes absolute paths only.
  const QString folder = QDir(g_out).absoluteFilePath(QStringLiteral("verify-images"));
  QDir().mkpath(folder);
  const std::string dirty = (folder + "/dirty.img").toStdString();
  const std::string clean = (folder + "/clean.img").toStdString();
  if (!MakeRawImage(dirty, uint64_t{12} << 30, true) || !MakeRawImage(clean, uint64_t{64} << 20, false)) {
    std::fprintf(stderr, "nfx_screenshots: cannot write the verify images\n");
    ++g_failures;
    return;
  }
  {
    std::FILE* map = std::fopen(platform::DriveMapPath().c_str(), "w");
    if (map) {
      std::fprintf(map, "E: removable %s\nF: removable %s\n", dirty.c_str(), clean.c_str());
      std::fclose(map);
    }
  }
  SetDriveListSource(SystemDriveListSource());

  TForm_VerifyDrive window(owner);
  Save(window, "verify_idle");
  Answerer answers(window);
  auto click = [&](const char* name) { window.findChild<QPushButton*>(QString::fromLatin1(name))->click(); };
  auto ended = [&] { return window.Thread() == nullptr; };

  Pick(window, "E:");
  click("Button_Verify");
  // Mid-run, once dirt has been found and the rate line is up.
  auto* rate = window.findChild<QLabel*>(QStringLiteral("Label_Rate"));
  if (WaitFor([&] { return (Meter(window) >= 30 && rate->isVisible()) || ended(); }, 120000)) {
    Save(window, "verify_running_dirty");
  }
  WaitFor(ended, 600000);
  WaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 10000);

  click("Button_Verify");
  WaitFor([&] { return Meter(window) >= 25 || ended(); }, 120000);
  click("Button_Cancel");
  WaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 10000);
  Save(window, "verify_cancelled");

  Pick(window, "F:");
  click("Button_Verify");
  WaitFor(ended, 120000);
  Save(window, "verify_finished_clean");
  window.close();
  std::remove(dirty.c_str());
  std::remove(clean.c_str());
  QDir().rmdir(folder);
}

}  // namespace verifyshots

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: nfx_screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  QApplication app(argc, argv);
  g_out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_out);
  BindGuiServices();
  {
    CSettings settings;
    settings.SetAutoUpdate(false);  // keeps the update question out of the way
  }

  RegisterFeatureWindows();
  {
    TMainForm main;
    Save(main, "main");
    MessageBoxes();
    TForm_PleaseWait wait(&main);
    Save(wait, "pleasewait");
    SetBranding("Local5", "");
    {
      TForm_Help help(&main);
      Save(help, "help");
    }
    SetBranding("Local5",
                "Supplied with the Example Computing secure disposal kit.  Questions about this "
                "copy go to the help desk on extension 4410.");
    {
      TForm_Help help(&main);
      Save(help, "help_note");
    }
    SetBranding("Local5", "");
    TForm_DNSMessage dns(&main, 0);
    Save(dns, "dnsmessage");
    SectorViewer(&main);
    ToolsAndUpdate(main);
  }
  DriveList();
  verifyshots::VerifyWindow(nullptr);
  {
    TMainForm main;
    WipeWindows(&main);
  }
  return g_failures == 0 ? 0 : 1;
}
