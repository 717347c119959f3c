#pragma once
// Shared set-up of the window tests: one QApplication for the process, the
// program's own bindings, a fresh settings key per test, and a watcher that
// answers modal windows from the event loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "widgets/WidgetServices.h"
#include "platform/Paths.h"
#include "platform/RegistryStore.h"
#include "settings/CSettings.h"

namespace guitest {

inline void QuietPlatformWarnings(QtMsgType type, const QMessageLogContext&, const QString& msg) {
  // The offscreen platform cannot shape or raise windows and says so for
  // every window; everything else is shown.
  if (msg.contains(QLatin1String("This plugin does not support"))) return;
  if (type != QtDebugMsg) fprintf(stderr, "%s\n", qPrintable(msg));
}

// Every test process gets settings, drive map and runtime folders of its
// own: CTest runs the cases in parallel, and each case would otherwise see
// the others' settings key and single-instance lock.
inline void PrivateFolders() {
  static const std::string* root = [] {
    std::string base = std::filesystem::temp_directory_path().string() + "/nfx-app-test-XXXXXX";
    std::vector<char> buf(base.begin(), base.end());
    buf.push_back(0);
    const char* made = mkdtemp(buf.data());
    std::string dir = made ? made : base;
    for (const char* sub : {"/config", "/data", "/runtime"}) {
      std::filesystem::create_directories(dir + sub);
    }
    std::filesystem::permissions(dir + "/runtime", std::filesystem::perms::owner_all);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
    static const std::string* kept = new std::string(dir);  // outlives every destructor
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(*kept, ec);
    });
    return kept;
  }();
  (void)root;
}

inline QApplication& App() {
  PrivateFolders();
  static int argc = 1;
  static char name[] = "test_app";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    // Windows are tested offscreen, also when run by hand from a desktop.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(QuietPlatformWarnings);
    auto* a = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    BindWidgetServices();
    return a;
  }();
  return *app;
}

// Removes the settings key file, so every test starts from a machine where
// the program never ran.
inline void ClearSettings() {
  std::error_code ec;
  std::filesystem::remove(platform::ConfigDir() + "/NF1.reg", ec);
}

inline void WriteDword(const char* name, uint32_t value) {
  platform::RegistryKey key;
  ASSERT_TRUE(key.OpenOrCreate(kSettingsKey));
  ASSERT_TRUE(key.WriteDword(name, value));
}

inline bool ReadDword(const char* name, uint32_t& value) {
  platform::RegistryKey key;
  if (!key.OpenReadOnly(kSettingsKey)) return false;
  return key.ReadDword(name, value) == platform::RegRead::kOk;
}

inline void WriteBranding(const char* name, const std::string& text) {
  platform::RegistryKey key;
  ASSERT_TRUE(key.OpenOrCreate(kSettingsKey));
  ASSERT_TRUE(key.WriteRaw(name, platform::kRegBinary, MaskBrandingText(text)));
}

// Sees every modal window that comes up while it lives and hands each one,
// once, to `act` (which usually presses a button or Escape).
class ModalWatcher {
 public:
  explicit ModalWatcher(std::function<void(QWidget*)> act) : act_(std::move(act)) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start();
  }
  const std::vector<QString>& Seen() const { return seen_; }
  const std::vector<QString>& Titles() const { return titles_; }

 private:
  void Tick() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == last_) return;
    last_ = modal;
    seen_.push_back(modal->objectName());
    titles_.push_back(modal->windowTitle());
    act_(modal);
  }
  std::function<void(QWidget*)> act_;
  QTimer timer_;
  QPointer<QWidget> last_;
  std::vector<QString> seen_;
  std::vector<QString> titles_;
};

// Runs the event loop for `ms` milliseconds.
inline void Pump(int ms = 20) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

inline QPushButton* Button(QWidget* window, const char* name) {
  return window->findChild<QPushButton*>(QString::fromLatin1(name));
}

// A mouse event as the window system delivers it: `buttons` are the ones
// held after the event.
inline void SendMouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button,
                      Qt::MouseButtons buttons) {
  QMouseEvent event(type, QPointF(pos), QPointF(target->mapToGlobal(pos)), button, buttons,
                    Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ClearSettings();
  }
  void TearDown() override {
    Pump(1);
    ClearSettings();
  }
};

}  // namespace guitest
