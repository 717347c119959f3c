// The main window's ways into the Tools and update windows, with the real
// windows as the program registers them and a version file served on
// 127.0.0.1.
#include <QtTest/QTest>

#include "app/Application.h"
#include "app/TMainForm.h"
#include "settings/TForm_Tools.h"
#include "tests/update/LocalHttpServer.h"
#include "tests/widgets/GuiTest.h"
#include "ui_TMainForm.h"
#include "update/TForm_Update.h"

using guitest::Button;
using guitest::ModalWatcher;

namespace {

class ToolsAndUpdateTest : public guitest::GuiTest {
 protected:
  static void SetUpTestSuite() { guitest::App(); }
  void SetUp() override {
    guitest::GuiTest::SetUp();
    testhttp::NoProxyFromEnvironment();
    ASSERT_TRUE(server_->Listening());
    TForm_Update::SetVersionFileUrlForTests(
        server_->Url(QStringLiteral("/Nullifex/version.dat")).toStdString());
    RegisterFeatureWindows();
    platform::RegistryKey key;
    ASSERT_TRUE(key.OpenOrCreate(kSettingsKey));
    ASSERT_TRUE(key.WriteString("Dliubruc", "3.0.0005"));
  }
  void TearDown() override {
    for (const auto feature : {TMainForm::Feature::WipeMedia, TMainForm::Feature::VerifyMedia,
                                TMainForm::Feature::ViewSectors, TMainForm::Feature::Tools, TMainForm::Feature::Update}) {
      TMainForm::RegisterFeatureWindow(feature, nullptr);
    }
    TForm_Update::SetVersionFileUrlForTests("");
    guitest::GuiTest::TearDown();
  }
  // Answered after a moment, so the update window is up long enough to
  // be looked at.
  void ServeVersion(const QByteArray& body) {
    server_->Serve(QStringLiteral("/Nullifex/version.dat"), {.body = body, .delayMs = 200});
  }

  std::unique_ptr<testhttp::LocalHttpServer> server_ = std::make_unique<testhttp::LocalHttpServer>();
};

TEST_F(ToolsAndUpdateTest, ToolsStandsOverTheMainWindowAndChecksForUpdatesFromThere) {
  CSettings().SetAutoUpdate(false);  // no weekly question
  ServeVersion("3.0.0005");
  TMainForm main;
  main.show();
  guitest::Pump(20);
  ASSERT_TRUE(main.ui()->KTransToolsButton->isEnabled());

  std::vector<QString> seen;
  bool mainVisible = true, toolsVisibleUnderUpdate = true;
  int toolsTurns = 0;
  ModalWatcher watcher([&](QWidget* modal) {
    seen.push_back(modal->objectName() + ":" + modal->windowTitle());
    QTimer::singleShot(0, modal, [&, modal] {
      const QString name = modal->objectName();
      if (name == QLatin1String("TForm_Tools")) {
        mainVisible = mainVisible && main.isVisible();
        QTest::mouseClick(Button(modal, toolsTurns++ == 0 ? "Button_CheckForUpdates" : "Button_Ok"),
                          Qt::LeftButton);
      } else if (name == QLatin1String("TForm_Update")) {
        toolsVisibleUnderUpdate = modal->parentWidget()->isVisible();
        mainVisible = mainVisible && main.isVisible();
      } else {
        QTest::mouseClick(Button(modal, "Button_Ok"), Qt::LeftButton);
      }
    });
  });
  QTest::mouseClick(main.ui()->KTransToolsButton, Qt::LeftButton);

  EXPECT_EQ(seen, (std::vector<QString>{"TForm_Tools:Nullifex Tools", "TForm_Update:Update",
                                        "TXAMessageBox:No Updates Available",
                                        "TForm_Tools:Nullifex Tools"}));
  EXPECT_TRUE(mainVisible) << "the Tools and update windows stand over the main window";
  EXPECT_FALSE(toolsVisibleUnderUpdate);
  EXPECT_TRUE(main.isVisible());
}

TEST_F(ToolsAndUpdateTest, YesToTheWeeklyQuestionRunsTheCheck) {
  ServeVersion("3.0.0006");
  ASSERT_TRUE(CSettings().IsUpdateCheckDue());  // a first start: due at once
  // The boxes: Yes to the question, No to visiting the page. (The update
  // window itself may come and go faster than the watcher looks.)
  std::vector<QString> boxes;
  ModalWatcher watcher([&](QWidget* modal) {
    if (modal->objectName() != QLatin1String("TXAMessageBox")) return;
    boxes.push_back(modal->windowTitle());
    const char* answer = modal->windowTitle() == QLatin1String("Check for Updates") ? "Button_Yes"
                                                                                      : "Button_No";
    QTimer::singleShot(0, modal, [modal, answer] { QTest::mouseClick(Button(modal, answer), Qt::LeftButton); });
  });
  TMainForm main;
  main.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.size() == 2 && !QApplication::activeModalWidget(); },
                              10000))
      << QStringList(boxes.begin(), boxes.end()).join(',').toStdString();
  EXPECT_EQ(boxes, (std::vector<QString>{"Check for Updates", "Update Available"}));
  EXPECT_FALSE(CSettings().IsUpdateCheckDue()) << "the completed check restarted the week";
  EXPECT_EQ(server_->Requests(), std::vector<QString>{QStringLiteral("/Nullifex/version.dat")});
}

}  // namespace
