// The update window against HTTP servers the test runs on 127.0.0.1: the
// comparison with the installed build stamp, the three outcome boxes,
// Cancel, and where the version file is (never) kept.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "platform/qt/ShellOpen.h"
#include "tests/update/LocalHttpServer.h"
#include "tests/widgets/GuiTest.h"
#include "tests/widgets/UrlCatcher.h"
#include "ui_TForm_Update.h"
#include "update/TForm_Update.h"
#include "widgets/SkinWidgets.h"

using guitest::Button;
using guitest::ModalWatcher;
using testhttp::Answer;

namespace {

constexpr char kVersionPath[] = "/Nullifex/version.dat";
constexpr char kUserFile[] = "the user's own version.dat\n";
constexpr uint32_t kEarlierCheck = 1000000;

const QString kProblem = QStringLiteral(
    "There was a problem checking for an update.  Make sure that you have an active internet "
    "connection and try again.");
const QString kNewer = QStringLiteral(
    "There is a new version of Nullifex available for download.  Would you like to visit our "
    "website now to download it?");
const QString kLatest = QStringLiteral("You have the latest version of Nullifex.");

// What one run of the update window showed and left behind.
struct Outcome {
  std::vector<QString> titles;  // the message boxes, in order
  std::vector<QString> texts;
  int result = -1;
  bool lastCheckChanged = false;
  std::vector<QUrl> opened;
};

class UpdateWindowTest : public guitest::GuiTest {
 protected:
  void SetUp() override {
    guitest::GuiTest::SetUp();
    testhttp::NoProxyFromEnvironment();
    ASSERT_TRUE(server_ && server_->Listening());
    // The program is started from a folder holding a file of the user's
    // that happens to be called version.dat.
    ASSERT_TRUE(startFolder_.isValid());
    previousFolder_ = QDir::currentPath();
    QFile user(startFolder_.filePath(QStringLiteral("version.dat")));
    ASSERT_TRUE(user.open(QIODevice::WriteOnly));
    user.write(kUserFile);
    user.close();
    ASSERT_TRUE(QDir::setCurrent(startFolder_.path()));
    TForm_Update::SetVersionFileUrlForTests(server_->Url(QString::fromLatin1(kVersionPath)).toStdString());
    TForm_Update::SetWaitForTests(5000);
    guitest::WriteDword("LastCheck", kEarlierCheck);
  }
  void TearDown() override {
    TForm_Update::SetVersionFileUrlForTests("");
    TForm_Update::SetWaitForTests(0);
    QDir::setCurrent(previousFolder_);
    guitest::GuiTest::TearDown();
  }
  static void SetUpTestSuite() { guitest::App(); }

  static void SetStamp(const char* stamp) {
    platform::RegistryKey key;
    ASSERT_TRUE(key.OpenOrCreate(kSettingsKey));
    ASSERT_TRUE(key.WriteString("Dliubruc", stamp));
  }
  void ServeVersion(const QByteArray& body) {
    server_->Serve(QString::fromLatin1(kVersionPath), {.body = body});
  }

  // Opens the update window as its owners do (modally) and answers each
  // box with `answer`; `whileWaiting` acts on the update window itself.
  Outcome Run(const char* answer = "Button_Ok",
              std::function<void(TForm_Update&)> whileWaiting = nullptr) {
    Outcome out;
    guitest::UrlCatcher catcher;
    TForm_Update form(nullptr);
    ModalWatcher watcher([&](QWidget* modal) {
      if (modal == &form) {
        if (whileWaiting) QTimer::singleShot(0, &form, [&] { whileWaiting(form); });
        return;
      }
      out.titles.push_back(modal->windowTitle());
      auto* body = modal->findChild<QLabel*>(QStringLiteral("MessageBody"));
      out.texts.push_back(body ? body->text() : QString());
      QTimer::singleShot(0, modal, [modal, answer] {
        QPushButton* button = Button(modal, answer);
        if (button && button->isVisible()) QTest::mouseClick(button, Qt::LeftButton);
        else QTest::keyClick(modal, Qt::Key_Escape);
      });
    });
    out.result = form.exec();
    uint32_t lastCheck = 0;
    EXPECT_TRUE(guitest::ReadDword("LastCheck", lastCheck));
    out.lastCheckChanged = lastCheck != kEarlierCheck;
    out.opened = catcher.urls;
    EXPECT_FALSE(QFileInfo::exists(form.LocalCopyPath())) << "the local copy is deleted";
    return out;
  }

  // Nothing of the check is left: the user's file is as it was and no
  // private folder remains.
  void ExpectNothingLeft() {
    QFile user(startFolder_.filePath(QStringLiteral("version.dat")));
    ASSERT_TRUE(user.open(QIODevice::ReadOnly));
    EXPECT_EQ(user.readAll(), QByteArray(kUserFile));
    EXPECT_EQ(QDir(startFolder_.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    const QStringList left = QDir(QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR")))
                                 .entryList({QStringLiteral("nullifex-update-*")}, QDir::AllEntries);
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
  }

  std::unique_ptr<testhttp::LocalHttpServer> server_ = std::make_unique<testhttp::LocalHttpServer>();
  QTemporaryDir startFolder_;
  QString previousFolder_;
};

TEST_F(UpdateWindowTest, TheFileIsComparedWithTheInstalledStampByteByByte) {
  struct Case {
    const char* stamp;  // nullptr: none installed
    QByteArray file;
    bool update;
  };
  const Case cases[] = {
      {"3.0.0005", "3.0.0006", true},
      {"3.0.0005", "3.0.0005", false},
      {"3.0.0005", "3.0.0004", false},
      // Bytes past the stamp's length play no part.
      {"3.0.0005", "3.0.0005 and a longer tail", false},
      {"3.0.0005", "3.0.0006\r\nrelease notes", true},
      {"3.0.0005", "3.0.0004\xff\xff\xff", false},
      // A file shorter than the stamp compares the bytes it has.
      {"3.0.0005", "3.0.0", false},
      {"3.0.0005", "3.1", true},
      {"3.0.0005", "", false},
      // Unsigned bytes: 0xE9 ranks above '0'.
      {"3.0.0005", "3.0.\xe9", true},
      // No stamp installed: never an update.
      {nullptr, "9.9.9999", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stamp ? c.stamp : "(no stamp)") + " vs " + c.file.toStdString());
    guitest::ClearSettings();
    guitest::WriteDword("LastCheck", kEarlierCheck);
    if (c.stamp) SetStamp(c.stamp);
    ServeVersion(c.file);
    const Outcome out = Run("Button_No");
    ASSERT_EQ(out.titles.size(), 1u);
    EXPECT_EQ(out.titles[0], c.update ? QStringLiteral("Update Available")
                                      : QStringLiteral("No Updates Available"));
    EXPECT_EQ(out.texts[0], c.update ? kNewer : kLatest);
    EXPECT_TRUE(out.lastCheckChanged) << "a completed download restarts the weekly period";
    EXPECT_TRUE(out.opened.empty());
    ExpectNothingLeft();
  }
}

TEST_F(UpdateWindowTest, YesOpensTheUpdatePageAndARedirectIsFollowed) {
  testhttp::LocalHttpServer second;
  ASSERT_TRUE(second.Listening());
  second.Serve(QStringLiteral("/mirror/version.dat"), {.body = "3.0.0006"});
  server_->Serve(QString::fromLatin1(kVersionPath),
                 {.status = 302, .location = second.Url(QStringLiteral("/mirror/version.dat")).toLatin1()});
  SetStamp("3.0.0005");
  const Outcome out = Run("Button_Yes");
  ASSERT_EQ(out.titles, std::vector<QString>{QStringLiteral("Update Available")});
  ASSERT_EQ(out.opened.size(), 1u);
  EXPECT_EQ(out.opened[0], platform::ShellTargetUrl(CSettings().GetUpdatePageUrl()));
  EXPECT_EQ(out.result, ResultOk);
  EXPECT_EQ(second.Requests(), std::vector<QString>{QStringLiteral("/mirror/version.dat")});
  ExpectNothingLeft();
}

TEST_F(UpdateWindowTest, NoUsableDownloadShowsTheProblemWhenTheTimerFires) {
  TForm_Update::SetWaitForTests(400);
  SetStamp("3.0.0005");
  server_->Serve(QStringLiteral("/error"), {.status = 404, .body = "<html>Not Found</html>"});
  server_->Serve(QStringLiteral("/hangs"), {.body = "3.0.0006", .silent = true});
  const struct {
    const char* name;
    QString url;
  } cases[] = {
      // An error page is no version file, though "<" ranks above any stamp.
      {"404 page", server_->Url(QStringLiteral("/error"))},
      {"connection refused", testhttp::LocalHttpServer::RefusingUrl(QString::fromLatin1(kVersionPath))},
      {"server never answers", server_->Url(QStringLiteral("/hangs"))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TForm_Update::SetVersionFileUrlForTests(c.url.toStdString());
    QElapsedTimer clock;
    clock.start();
    const Outcome out = Run();
    EXPECT_GE(clock.elapsed(), 300) << "the message waits for the timer (coarse, 400 ms)";
    ASSERT_EQ(out.titles, std::vector<QString>{QStringLiteral("Update")});
    EXPECT_EQ(out.texts[0], kProblem);
    EXPECT_EQ(out.result, ResultCancel);
    EXPECT_FALSE(out.lastCheckChanged);
    ExpectNothingLeft();
  }
}

TEST_F(UpdateWindowTest, WaitingShowsTheAnimationAndCancelClosesWithoutAMessage) {
  server_->Serve(QString::fromLatin1(kVersionPath), {.body = "3.0.0006", .silent = true});
  SetStamp("3.0.0005");
  bool checked = false;
  const Outcome out = Run("Button_Ok", [&](TForm_Update& form) {
    // Give the download time to start, as a person would before pressing.
    QTest::qWait(100);
    EXPECT_EQ(form.size(), QSize(222, 192));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Update"));
    EXPECT_EQ(form.ui()->Label1->text(), QStringLiteral("Checking for a newer version..."));
    EXPECT_TRUE(form.ui()->Animate1->isVisible());
    EXPECT_TRUE(form.ui()->Animate1->IsPlaying());
    EXPECT_EQ(form.ui()->Animate1->resourceNumber(), 129);
    EXPECT_EQ(server_->Requests().size(), 1u) << "the download started once the window was up";
    EXPECT_TRUE(QFileInfo(form.LocalCopyPath()).dir().exists());
    EXPECT_FALSE(form.LocalCopyPath().startsWith(startFolder_.path()));
    checked = true;
    QTest::mouseClick(form.ui()->Button_Cancel, Qt::LeftButton);
  });
  EXPECT_TRUE(checked);
  EXPECT_TRUE(out.titles.empty()) << "Cancel shows no message";
  EXPECT_EQ(out.result, ResultCancel);
  EXPECT_FALSE(out.lastCheckChanged);
  ExpectNothingLeft();
}

}  // namespace
