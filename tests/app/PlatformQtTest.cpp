// The Qt side of the platform: window messages, Synchronize, 8-bit texts,
// the shell, sounds, and the single instance with the program itself.
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "app/Application.h"
#include "app/TMainForm.h"
#include "tests/widgets/GuiTest.h"
#include "platform/Dispatcher.h"
#include "platform/Thread.h"
#include "platform/qt/Ansi.h"
#include "platform/qt/QtMessageTarget.h"
#include "platform/qt/ShellOpen.h"
#include "platform/qt/SingleInstance.h"
#include "platform/qt/Sound.h"

namespace {

class PlatformQtTest : public guitest::GuiTest {};

// A window that records the messages it handles and the thread they run on.
class Receiver : public QObject {
 public:
  struct Got {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    bool onOwnThread;
  };
  std::vector<Got> got;
 protected:
  bool event(QEvent* e) override {
    if (e->type() != platform::WindowMessageEvent::EventType()) return QObject::event(e);
    auto* m = static_cast<platform::WindowMessageEvent*>(e);
    got.push_back({m->message, m->wParam, m->lParam, QThread::currentThread() == thread()});
    m->result = static_cast<intptr_t>(m->wParam) * 10 + m->lParam;
    return true;
  }
};

TEST_F(PlatformQtTest, PostedMessagesArriveInOrderAndSentOnesReturnTheResult) {
  Receiver window;
  platform::QtMessageTarget target(&window);
  intptr_t sentResult = 0;
  std::thread worker([&] {
    target.Post(1025, 1, -1);
    target.Post(1028, 2, 7);
    // The worker blocks until the window's thread has handled it.
    sentResult = target.Send(1027, 4, 2);
    target.Post(1030, 3, 0);
  });
  QElapsedTimer clock;
  clock.start();
  while (window.got.size() < 4 && clock.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  worker.join();
  ASSERT_EQ(window.got.size(), 4u);
  const uint32_t order[] = {1025, 1028, 1027, 1030};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(window.got[i].message, order[i]);
    EXPECT_TRUE(window.got[i].onOwnThread) << "handled on the window's thread";
  }
  EXPECT_EQ(window.got[0].lParam, -1);
  EXPECT_EQ(sentResult, 42);

  // From the window's own thread a sent message is handled at once.
  EXPECT_EQ(target.Send(1027, 5, 1), 51);
  EXPECT_EQ(window.got.size(), 5u);
}

TEST_F(PlatformQtTest, MessagesForAWindowThatIsGoneAreDropped) {
  auto window = std::make_unique<Receiver>();
  platform::QtMessageTarget target(window.get());
  window.reset();
  target.Post(1025, 0, 0);
  EXPECT_EQ(target.Send(1027, 1, 1), 0);
  QCoreApplication::processEvents();
}

TEST_F(PlatformQtTest, SynchronizeRunsOnTheGuiThreadWhileTheWorkerWaits) {
  const auto gui = std::this_thread::get_id();
  std::atomic<bool> ranOnGui{false}, workerSawIt{false}, done{false};
  std::thread worker([&] {
    platform::Synchronize([&] { ranOnGui = std::this_thread::get_id() == gui; });
    workerSawIt = ranOnGui.load();
    done = true;
  });
  QElapsedTimer clock;
  clock.start();
  while (!done && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_TRUE(ranOnGui);
  EXPECT_TRUE(workerSawIt) << "Synchronize returned only after the function ran";
  // On the GUI thread it runs in place.
  bool inPlace = false;
  platform::Synchronize([&] { inPlace = true; });
  EXPECT_TRUE(inPlace);
}

TEST_F(PlatformQtTest, Windows1252BothWays) {
  EXPECT_EQ(platform::FromAnsi("A: 3\xBD Floppy"), QString::fromUtf8("A: 3½ Floppy"));
  EXPECT_EQ(platform::FromAnsi("\x80\x85\x99\xE9\xFF"), QString::fromUtf8("€…™éÿ"));
  EXPECT_EQ(platform::ToAnsi(QString::fromUtf8("3½ € é")), "3\xBD \x80 \xE9");
  EXPECT_EQ(platform::ToAnsi(QString::fromUtf8("Ω")), "?");
  std::string all;
  for (int c = 1; c < 256; ++c) {
    if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) continue;  // undefined
    all.push_back(static_cast<char>(c));
  }
  EXPECT_EQ(platform::ToAnsi(platform::FromAnsi(all)), all);
}

TEST_F(PlatformQtTest, ShellTargets) {
  const QString saved = QDir::currentPath();
  const QString dir = QDir::tempPath() + "/nfx-shell-" + QString::number(QCoreApplication::applicationPid());
  QDir().mkpath(dir);
  QFile f(dir + "/NULLIFEX HELP.HLP");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  QDir::setCurrent(dir);
  EXPECT_EQ(platform::ShellTargetUrl("NULLIFEX HELP.HLP"), QUrl::fromLocalFile(dir + "/NULLIFEX HELP.HLP"));
  EXPECT_EQ(platform::ShellTargetUrl("www.example.com"), QUrl("http://www.example.com"));
  EXPECT_EQ(platform::ShellTargetUrl("https://example.com/nullifex_update.php"),
            QUrl("https://example.com/nullifex_update.php"));
  EXPECT_TRUE(platform::ShellTargetUrl("").isEmpty());
  EXPECT_TRUE(platform::ShellTargetUrl("MISSING HELP.HLP").isEmpty()) << "a missing file opens nothing";
  EXPECT_FALSE(platform::ShellOpen(""));
  QDir::setCurrent(saved);
  QDir(dir).removeRecursively();
}

TEST_F(PlatformQtTest, SoundAliasesMapToThemeNamesAndPlayingNeverBlocks) {
  EXPECT_EQ(platform::SoundThemeName("SystemQuestion"), "dialog-question");
  EXPECT_EQ(platform::SoundThemeName("SystemHand"), "dialog-error");
  EXPECT_EQ(platform::SoundThemeName("SystemExclamation"), "dialog-warning");
  EXPECT_EQ(platform::SoundThemeName("Default"), "bell");
  EXPECT_EQ(platform::SoundThemeName("NoSuchAlias"), "bell");
  QElapsedTimer clock;
  clock.start();
  platform::PlaySystemSound("SystemHand");
  platform::PlaySystemSound("Default");
  EXPECT_LT(clock.elapsed(), 3000);
}

constexpr char kMutex[] = "OV_NULLIFEX_GLOBAL_MUTEX_0610_1810";

int RunProgram(const QProcessEnvironment& env, QProcess& program) {
  program.setProcessEnvironment(env);
  program.start(QStringLiteral(NFX_PROGRAM), {});
  if (!program.waitForStarted(10000)) return -1000;
  QElapsedTimer clock;
  clock.start();
  // Keep this process's event loop turning, so its local server answers.
  while (program.state() != QProcess::NotRunning && clock.elapsed() < 20000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    program.waitForFinished(10);
  }
  if (program.state() != QProcess::NotRunning) {
    program.kill();
    program.waitForFinished();
    return -2000;
  }
  return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -3000;
}

TEST_F(PlatformQtTest, ASecondStartRaisesTheRunningMainWindowAndExitsZero) {
  CSettings().SetAutoUpdate(false);
  platform::SingleInstance first(kMutex);
  ASSERT_EQ(first.Acquire(), platform::SingleInstance::Outcome::First);
  ASSERT_TRUE(first.StartServer());
  platform::SingleInstance again(kMutex);
  EXPECT_EQ(again.Acquire(), platform::SingleInstance::Outcome::AlreadyRunning);

  TMainForm main;
  ConnectRaiseRequests(first, main);
  main.show();
  QDialog other;  // another window has come to the front meanwhile
  other.show();
  other.activateWindow();
  guitest::Pump(30);
  QSignalSpy raised(&first, &platform::SingleInstance::raiseRequested);

  QProcess second;
  EXPECT_EQ(RunProgram(QProcessEnvironment::systemEnvironment(), second), 0)
      << second.readAllStandardError().toStdString();
  guitest::Pump(30);
  EXPECT_EQ(raised.count(), 1);
  EXPECT_EQ(QApplication::activeWindow(), &main);
}

TEST_F(PlatformQtTest, ALockFileThatCannotBeMadeEndsTheProgramWithMinusOne) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", "/nonexistent/nullifex-runtime");
  QProcess program;
  EXPECT_EQ(RunProgram(env, program), 255) << "exit code -1";
}

TEST_F(PlatformQtTest, TheLockIsReleasedWithItsHolder) {
  {
    platform::SingleInstance holder("NFX_TEST_LOCK");
    ASSERT_EQ(holder.Acquire(), platform::SingleInstance::Outcome::First);
    ASSERT_TRUE(holder.StartServer());
  }
  // A leftover socket file of a holder that ended does not stop the next.
  platform::SingleInstance next("NFX_TEST_LOCK");
  ASSERT_EQ(next.Acquire(), platform::SingleInstance::Outcome::First);
  EXPECT_TRUE(next.StartServer());
  platform::SingleInstance third("NFX_TEST_LOCK");
  EXPECT_EQ(third.Acquire(), platform::SingleInstance::Outcome::AlreadyRunning);
}

TEST_F(PlatformQtTest, WithoutARuntimeFolderTheLockIsStillPerUser) {
  const std::string saved = std::getenv("XDG_RUNTIME_DIR");
  unsetenv("XDG_RUNTIME_DIR");
  platform::SingleInstance instance("NFX_TEST_FALLBACK");
  const std::string uid = std::to_string(getuid());
  EXPECT_EQ(instance.LockPath(), "/tmp/NFX_TEST_FALLBACK-" + uid + ".lock");
  EXPECT_EQ(instance.ServerPath(), "/tmp/NFX_TEST_FALLBACK-" + uid);
  setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  EXPECT_EQ(instance.LockPath(), saved + "/NFX_TEST_FALLBACK.lock");

  // A link planted at the lock's name is not followed.
  platform::SingleInstance linked("NFX_TEST_LINK");
  const std::string target = saved + "/planted-target";
  ASSERT_EQ(symlink(target.c_str(), linked.LockPath().c_str()), 0);
  EXPECT_EQ(linked.Acquire(), platform::SingleInstance::Outcome::Failed);
  EXPECT_FALSE(std::filesystem::exists(target));
  std::filesystem::remove(linked.LockPath());
}

}  // namespace
