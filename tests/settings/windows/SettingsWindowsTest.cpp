// The Tools window and the report-log configuration window, driven by
// their component names as a person uses them.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "settings/TForm_ConfigureLogging.h"
#include "settings/TForm_Tools.h"
#include "tests/widgets/GuiTest.h"
#include "tests/widgets/UrlCatcher.h"
#include "ui_TForm_ConfigureLogging.h"
#include "ui_TForm_Tools.h"
#include "ui_TForm_Update.h"
#include "tests/update/LocalHttpServer.h"
#include "update/TForm_Update.h"
#include "widgets/SkinWidgets.h"

using guitest::Button;
using guitest::ModalWatcher;

namespace {

constexpr uint32_t kEarlierCheck = 1000000;
constexpr uint32_t kShortPeriod = 3600;

void WriteText(const char* name, const QString& text) {
  platform::RegistryKey key;
  ASSERT_TRUE(key.OpenOrCreate(kSettingsKey));
  ASSERT_TRUE(key.WriteString(name, text.toStdString()));
}

class SettingsWindowsTest : public guitest::GuiTest {
 protected:
  static void SetUpTestSuite() { guitest::App(); }
  void SetUp() override {
    guitest::GuiTest::SetUp();
    ASSERT_TRUE(folders_.isValid());
  }
  void TearDown() override {
    TForm_Update::SetVersionFileUrlForTests("");
    guitest::GuiTest::TearDown();
  }
  QString Folder(const char* name) {
    const QString path = folders_.filePath(QString::fromLatin1(name));
    QDir().mkpath(path);
    return path;
  }
  static void WriteLog(const QString& folder) {
    QFile log(folder + QStringLiteral("/Log.txt"));
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.write("Nullifex Operation Log\r\n");
  }
  QTemporaryDir folders_;
};

// A click on the box itself, where a person aims.
void ClickBox(QCheckBox* box) {
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

// ---- Tools ----------------------------------------------------------------

TEST_F(SettingsWindowsTest, ToolsStoresTheAutomaticCheckOnlyAtOkAfterAnyClick) {
  struct Case {
    bool storedOn;
    int clicks;
    const char* closeWith;  // a button name
    bool written;           // SetAutoUpdate ran: the period restarts
  };
  const Case cases[] = {
      {true, 0, "Button_Ok", false},
      {true, 1, "Button_Ok", true},
      // Back to the first state, still a change.
      {true, 2, "Button_Ok", true},
      {false, 2, "Button_Ok", true},
      {false, 1, "KTransButton3", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.storedOn << " " << c.clicks << " " << c.closeWith);
    guitest::ClearSettings();
    guitest::WriteDword("Update", c.storedOn ? 1 : 0);
    guitest::WriteDword("UpdateTime", kShortPeriod);
    guitest::WriteDword("LastCheck", kEarlierCheck);

    TForm_Tools tools(nullptr);
    tools.show();
    EXPECT_EQ(tools.size(), QSize(386, 302));
    EXPECT_EQ(tools.windowTitle(), QStringLiteral("Nullifex Tools"));
    QCheckBox* box = tools.ui()->CheckBox_AutoUpdate;
    EXPECT_EQ(box->isChecked(), c.storedOn);
    for (int i = 0; i < c.clicks; ++i) ClickBox(box);
    EXPECT_EQ(tools.AutoUpdateChanged(), c.clicks > 0);
    QAbstractButton* close = tools.findChild<QAbstractButton*>(QString::fromLatin1(c.closeWith));
    ASSERT_NE(close, nullptr);
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_FALSE(tools.isVisible());

    uint32_t update = 9, period = 0, lastCheck = 0;
    ASSERT_TRUE(guitest::ReadDword("Update", update));
    ASSERT_TRUE(guitest::ReadDword("UpdateTime", period));
    ASSERT_TRUE(guitest::ReadDword("LastCheck", lastCheck));
    const bool expectOn = c.written ? (c.storedOn != (c.clicks % 2 == 1)) : c.storedOn;
    EXPECT_EQ(update != 0, expectOn);
    EXPECT_EQ(period, c.written ? CSettings::kUpdatePeriod : kShortPeriod);
    EXPECT_EQ(lastCheck != kEarlierCheck, c.written);
  }
}

TEST_F(SettingsWindowsTest, ToolsHidesWhileItsWindowsAreUpAndKeepsItsModalShow) {
  // The update window's download goes to a local port where nothing
  // listens; it is cancelled while it waits.
  TForm_Update::SetVersionFileUrlForTests(
      testhttp::LocalHttpServer::RefusingUrl(QStringLiteral("/version.dat")).toStdString());
  bool toolsVisibleUnderUpdate = true;
  int updateOpened = 0;
  TForm_Tools tools(nullptr);
  bool toolsVisibleUnderLog = true;
  int toolsTurns = 0;
  ModalWatcher watcher([&](QWidget* modal) {
    QTimer::singleShot(0, modal, [&, modal] {
      if (modal == &tools) {
        // Each time the Tools window is the modal one again: first the log
        // window, then the update window, then Ok.
        const char* next[] = {"Button_ConfigureReportLog", "Button_CheckForUpdates", "Button_Ok"};
        EXPECT_TRUE(tools.isVisible());
        if (toolsTurns < 3) QTest::mouseClick(Button(&tools, next[toolsTurns++]), Qt::LeftButton);
      } else if (modal->objectName() == QLatin1String("TForm_ConfigureLogging")) {
        toolsVisibleUnderLog = tools.isVisible();
        EXPECT_EQ(modal->parentWidget(), &tools);
        QTest::mouseClick(Button(modal, "Button_Close"), Qt::LeftButton);
      } else if (auto* update = qobject_cast<TForm_Update*>(modal)) {
        ++updateOpened;
        toolsVisibleUnderUpdate = tools.isVisible();
        EXPECT_EQ(modal->parentWidget(), &tools);
        QTest::mouseClick(update->ui()->Button_Cancel, Qt::LeftButton);
      }
    });
  });
  EXPECT_EQ(tools.exec(), ResultOk);
  EXPECT_EQ(toolsTurns, 3) << "the modal show went on after each window";
  EXPECT_FALSE(toolsVisibleUnderLog);
  EXPECT_EQ(updateOpened, 1);
  EXPECT_FALSE(toolsVisibleUnderUpdate);
}

// ---- Configure Report Log ----------------------------------------------------

TEST_F(SettingsWindowsTest, LoggingBoxFillsTheInstallFolderAndGreysTheFolderControls) {
  for (const bool installFolderStored : {true, false}) {
    SCOPED_TRACE(installFolderStored);
    guitest::ClearSettings();
    if (installFolderStored) WriteText("UIL", QStringLiteral("/opt/nullifex"));
    TForm_ConfigureLogging form(nullptr);
    form.show();
    auto* ui = form.ui();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Configure Report Log"));
    EXPECT_EQ(form.size(), QSize(386, 302));
    EXPECT_FALSE(ui->CheckBox_EnableLogging->isChecked());
    EXPECT_FALSE(ui->Edit_LogFilePath->isEnabled());
    EXPECT_FALSE(ui->Button_Browse->isEnabled());
    EXPECT_TRUE(ui->Button_ViewLog->isEnabled());
    EXPECT_TRUE(ui->Edit_LogFilePath->text().isEmpty());

    ClickBox(ui->CheckBox_EnableLogging);
    EXPECT_TRUE(ui->Edit_LogFilePath->isEnabled());
    EXPECT_TRUE(ui->Button_Browse->isEnabled());
    EXPECT_EQ(ui->Edit_LogFilePath->text(),
              installFolderStored ? QStringLiteral("/opt/nullifex") : QString());
  }

  // Clearing the box greys the folder, but Ok still stores it, with
  // logging off.
  guitest::ClearSettings();
  guitest::WriteDword("LogEnabled", 1);
  WriteText("LogLoc", QStringLiteral("/var/log/old"));
  TForm_ConfigureLogging form(nullptr);
  form.show();
  auto* ui = form.ui();
  EXPECT_TRUE(ui->CheckBox_EnableLogging->isChecked());
  EXPECT_EQ(ui->Edit_LogFilePath->text(), QStringLiteral("/var/log/old"));
  ui->Edit_LogFilePath->clear();
  QTest::keyClicks(ui->Edit_LogFilePath, QStringLiteral("/srv/reports"));
  ClickBox(ui->CheckBox_EnableLogging);
  EXPECT_FALSE(ui->Edit_LogFilePath->isEnabled());
  EXPECT_FALSE(ui->Button_Browse->isEnabled());
  QTest::mouseClick(ui->Button_Ok, Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(CSettings().GetLogEnabled());
  EXPECT_EQ(CSettings().GetLogLocation(), "/srv/reports");
}

TEST_F(SettingsWindowsTest, CancelAndTheTitleBarButtonStoreNothing) {
  for (const char* closeWith : {"Button_Close", "KTransButton3"}) {
    SCOPED_TRACE(closeWith);
    guitest::ClearSettings();
    WriteText("LogLoc", QStringLiteral("/var/log/old"));
    TForm_ConfigureLogging form(nullptr);
    form.show();
    ClickBox(form.ui()->CheckBox_EnableLogging);
    form.ui()->Edit_LogFilePath->setText(QStringLiteral("/somewhere/else"));
    QTest::mouseClick(form.findChild<QAbstractButton*>(QString::fromLatin1(closeWith)),
                      Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(CSettings().GetLogEnabled());
    EXPECT_EQ(CSettings().GetLogLocation(), "/var/log/old");
  }
}

TEST_F(SettingsWindowsTest, ViewReportLogOpensTheStoredLogWhateverTheBoxAndTheEditSay) {
  const QString stored = Folder("stored");
  const QString typed = Folder("typed");
  WriteText("LogLoc", stored);
  guitest::WriteDword("LogEnabled", 0);

  struct Case {
    bool logInStored, logInTyped;
  };
  for (const Case c : {Case{true, false}, Case{false, true}}) {
    SCOPED_TRACE(testing::Message() << c.logInStored << c.logInTyped);
    QFile::remove(stored + "/Log.txt");
    QFile::remove(typed + "/Log.txt");
    if (c.logInStored) WriteLog(stored);
    if (c.logInTyped) WriteLog(typed);

    TForm_ConfigureLogging form(nullptr);
    form.show();
    ASSERT_FALSE(form.ui()->CheckBox_EnableLogging->isChecked()) << "logging is off";
    // A new folder typed but not yet stored with Ok.
    ClickBox(form.ui()->CheckBox_EnableLogging);
    form.ui()->Edit_LogFilePath->setText(typed);

    guitest::UrlCatcher catcher;
    std::vector<QString> boxes;
    ModalWatcher watcher([&](QWidget* box) {
      boxes.push_back(box->windowTitle() + "|" +
                      box->findChild<QLabel*>(QStringLiteral("MessageBody"))->text());
      QTimer::singleShot(0, box, [box] { QTest::mouseClick(Button(box, "Button_Ok"), Qt::LeftButton); });
    });
    QTest::mouseClick(form.ui()->Button_ViewLog, Qt::LeftButton);
    if (c.logInStored) {
      EXPECT_TRUE(boxes.empty());
      ASSERT_EQ(catcher.urls.size(), 1u);
      EXPECT_EQ(catcher.urls[0], QUrl::fromLocalFile(stored + "/Log.txt"));
    } else {
      EXPECT_TRUE(catcher.urls.empty()) << "the typed folder's log is not the stored one";
      EXPECT_EQ(boxes, std::vector<QString>{QStringLiteral(
                           "View Report Log|Nothing has been logged, or the log file is missing.")});
    }
  }
}

TEST_F(SettingsWindowsTest, BrowseStartsAtTheEditsFolderAndOnlyAConfirmedChoiceChangesIt) {
  const QString first = Folder("first");
  const QString chosen = Folder("chosen");
  guitest::WriteDword("LogEnabled", 1);
  WriteText("LogLoc", first);
  TForm_ConfigureLogging form(nullptr);
  form.show();

  // Each run: the folder the browser started in, then pick `pick` (empty:
  // cancel the browser).
  QString startedIn, title;
  const auto browse = [&](const QString& pick) {
    ModalWatcher watcher([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      startedIn = dialog->directory().absolutePath();
      title = dialog->windowTitle();
      QTimer::singleShot(0, dialog, [dialog, pick] {
        if (pick.isEmpty()) {
          dialog->reject();
        } else {
          // Into the folder, then "Choose".
          dialog->setDirectory(pick);
          static_cast<QDialog*>(dialog)->accept();
        }
      });
    });
    QTest::mouseClick(form.ui()->Button_Browse, Qt::LeftButton);
  };

  browse(QString());
  EXPECT_EQ(title, QStringLiteral("Select A Folder"));
  EXPECT_EQ(startedIn, first);
  EXPECT_EQ(form.ui()->Edit_LogFilePath->text(), first) << "cancelled: unchanged";

  browse(chosen);
  EXPECT_EQ(form.ui()->Edit_LogFilePath->text(), chosen);

  // An emptied edit: the browser starts where it was last confirmed.
  form.ui()->Edit_LogFilePath->clear();
  browse(QString());
  EXPECT_EQ(startedIn, chosen);
  EXPECT_TRUE(form.ui()->Edit_LogFilePath->text().isEmpty());
  EXPECT_EQ(CSettings().GetLogLocation(), first.toStdString()) << "stored only at Ok";
}

}  // namespace
