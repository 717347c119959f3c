// The main window: the update question, feature windows, the branding link
// and the help window; the don't-show-again window.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QUrl>
#include <QtTest/QTest>

#include "widgets/SkinWidgets.h"
#include "app/Application.h"
#include "app/TForm_Help.h"
#include "app/TMainForm.h"
#include "tests/widgets/GuiTest.h"
#include "tests/widgets/UrlCatcher.h"
#include "settings/TForm_DNSMessage.h"
#include "ui_TForm_DNSMessage.h"
#include "ui_TForm_Help.h"
#include "ui_TMainForm.h"

using guitest::Button;
using guitest::ModalWatcher;
using guitest::Pump;
using guitest::UrlCatcher;

void ProcessPosted() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

namespace {

// A stand-in feature window: closes itself and records whether the main
// window was visible while it was up.
class FeatureProbe : public QDialog {
 public:
  FeatureProbe(QWidget* owner, bool* mainVisible) : QDialog(owner) {
    QTimer::singleShot(0, this, [this, owner, mainVisible] {
      *mainVisible = owner->isVisible();
      done(ResultOk);
    });
  }
};

class MainFormTest : public guitest::GuiTest {
 protected:
  void TearDown() override {
    for (auto f : {TMainForm::Feature::WipeMedia, TMainForm::Feature::Update}) {
      TMainForm::RegisterFeatureWindow(f, nullptr);
    }
    guitest::GuiTest::TearDown();
  }
  // Shows a main window as a start of the program does and answers the
  // boxes that come up with `answer` (a button name).
  std::vector<QString> StartAndAnswer(const char* answer, TMainForm** keep = nullptr) {
    ModalWatcher watcher([answer](QWidget* box) {
      QTimer::singleShot(0, box, [box, answer] { QTest::mouseClick(Button(box, answer), Qt::LeftButton); });
    });
    auto* main = new TMainForm;
    main->show();
    // The question is asked from a posted message: handle it (a box it
    // opens is answered from the watcher's timer meanwhile).
    ProcessPosted();
    std::vector<QString> titles = watcher.Titles();
    if (keep) *keep = main;
    else delete main;
    return titles;
  }
};

TEST_F(MainFormTest, TheUpdateQuestionComesOnceWhenDueAndNoLeavesItDue) {
  TMainForm* main = nullptr;
  auto titles = StartAndAnswer("Button_No", &main);
  ASSERT_EQ(titles.size(), 1u);
  EXPECT_EQ(titles[0], QStringLiteral("Check for Updates"));
  // Shown again (as after a feature window): no second question.
  {
    ModalWatcher none([](QWidget* box) {
      QTimer::singleShot(0, box, [box] { QTest::keyClick(box, Qt::Key_Escape); });
    });
    main->hide();
    main->show();
    ProcessPosted();
    EXPECT_TRUE(none.Seen().empty());
  }
  delete main;

  // No touched nothing: the next start asks again.
  EXPECT_TRUE(CSettings().IsUpdateCheckDue());
  EXPECT_EQ(StartAndAnswer("Button_No").size(), 1u);
}

TEST_F(MainFormTest, NoQuestionWhenTheAutomaticCheckIsOffOrNotDue) {
  guitest::WriteDword("Update", 0);
  EXPECT_TRUE(StartAndAnswer("Button_No").empty());

  guitest::ClearSettings();
  CSettings().SetAutoUpdate(true);  // a check just now: due again in a week
  EXPECT_TRUE(StartAndAnswer("Button_No").empty());
}

TEST_F(MainFormTest, YesOpensTheUpdateWindowWhenThereIsOne) {
  bool mainVisible = false;
  int opened = 0;
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::Update, [&](QWidget* owner) {
    ++opened;
    return std::make_unique<FeatureProbe>(owner, &mainVisible);
  });
  EXPECT_EQ(StartAndAnswer("Button_Yes").size(), 1u);
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(mainVisible) << "the update window stands over the main window";
}

TEST_F(MainFormTest, FeatureWindowsHideTheMainWindowAndEnterStartsTheWipe) {
  CSettings().SetAutoUpdate(false);
  TMainForm unbuilt;
  EXPECT_FALSE(unbuilt.ui()->Button_WipeMedia->isEnabled());
  EXPECT_FALSE(unbuilt.ui()->Button_VerifyMedia->isEnabled());
  EXPECT_FALSE(unbuilt.ui()->Button_ViewSectors->isEnabled());
  EXPECT_FALSE(unbuilt.ui()->KTransToolsButton->isEnabled());
  EXPECT_TRUE(unbuilt.ui()->KTransHelpButton->isEnabled());
  EXPECT_TRUE(unbuilt.ui()->Button_WipeMedia->isDefault());

  bool mainVisible = true;
  int opened = 0;
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::WipeMedia, [&](QWidget* owner) {
    ++opened;
    return std::make_unique<FeatureProbe>(owner, &mainVisible);
  });
  TMainForm main;
  ASSERT_TRUE(main.ui()->Button_WipeMedia->isEnabled());
  main.show();
  Pump(30);
  QTest::keyClick(&main, Qt::Key_Return);
  EXPECT_EQ(opened, 1);
  EXPECT_FALSE(mainVisible);
  EXPECT_TRUE(main.isVisible()) << "shown again when the feature window has closed";
}

TEST_F(MainFormTest, FrameBrandingAndClose) {
  CSettings().SetAutoUpdate(false);
  guitest::WriteBranding("Local2", "www.nullifex.test");
  TMainForm main;
  main.show();
  Pump(20);
  EXPECT_EQ(main.size(), QSize(428, 540));
  EXPECT_EQ(main.windowTitle(), QStringLiteral("Nullifex"));
  EXPECT_EQ(main.findChild<QLabel*>("MessageTitle")->text(), QStringLiteral("Nullifex"));
  for (const char* name : {"ImagePanel2", "KTransButton3", "KTransButton5", "Label_WipeMedia",
                           "Label1", "Label2", "Button_Close"}) {
    EXPECT_NE(main.findChild<QWidget*>(name), nullptr) << name;
  }
  EXPECT_EQ(main.findChild<QWidget*>("ImagePanelTitleBar"), nullptr);
  EXPECT_EQ(main.ui()->KTransToolsButton->toolTip(),
            QStringLiteral("Access advanced tools, such as backup and restore"));

  QLabel* link = main.ui()->Label_Branding;
  EXPECT_EQ(link->text(), QStringLiteral("www.nullifex.test"));
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(link, &enter);
  EXPECT_TRUE(link->font().underline());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(link, &leave);
  EXPECT_FALSE(link->font().underline());
  UrlCatcher catcher;
  QTest::mouseClick(link, Qt::LeftButton);
  ASSERT_EQ(catcher.urls.size(), 1u);
  EXPECT_EQ(catcher.urls[0], QUrl(QStringLiteral("http://www.nullifex.test")));

  QSignalSpy finished(&main, &QDialog::finished);
  QTest::mouseClick(main.findChild<TImageButton*>("KTransButton3"), Qt::LeftButton);
  EXPECT_FALSE(main.isVisible());
  EXPECT_EQ(finished.count(), 1);
  main.show();
  QTest::mouseClick(main.ui()->Button_Close, Qt::LeftButton);
  EXPECT_FALSE(main.isVisible());
  EXPECT_EQ(finished.count(), 2);
}

TEST_F(MainFormTest, HelpOpensFromTheMainWindowOverIt) {
  CSettings().SetAutoUpdate(false);
  TMainForm main;
  main.show();
  Pump(20);
  bool mainVisible = false;
  ModalWatcher watcher([&](QWidget* window) {
    mainVisible = main.isVisible();
    QTimer::singleShot(0, window, [window] { QTest::mouseClick(Button(window, "Button_Close"), Qt::LeftButton); });
  });
  QTest::mouseClick(main.ui()->KTransHelpButton, Qt::LeftButton);
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0], QStringLiteral("TForm_Help"));
  EXPECT_EQ(watcher.Titles()[0], QStringLiteral("Nullifex Help"));
  EXPECT_TRUE(mainVisible);
}

class HelpTest : public guitest::GuiTest {};

TEST_F(HelpTest, WithoutANoteTheWindowIsFiftyPixelsShorter) {
  TForm_Help plain(nullptr);
  plain.show();
  EXPECT_EQ(plain.size(), QSize(377, 291));
  EXPECT_TRUE(plain.ui()->Label_ThreeLines->isHidden());
  EXPECT_EQ(plain.mask().boundingRect(), QRect(0, 0, 377, 291));
  EXPECT_FALSE(plain.mask().contains(QPoint(0, 290)));
  QPushButton* close = plain.ui()->Button_Close;
  EXPECT_EQ(plain.height() - close->geometry().bottom(), 341 - (305 + 23) + 1);
  EXPECT_EQ(plain.ui()->Label_CurrentBuild->text(), QStringLiteral("Version 3 "));

  guitest::WriteBranding("Local5", "Supplied by the help desk, extension 4410.");
  {
    platform::RegistryKey key;
    ASSERT_TRUE(key.OpenOrCreate(kSettingsKey));
    ASSERT_TRUE(key.WriteString("Dliubruc", "20261210"));
  }
  TForm_Help noted(nullptr);
  noted.show();
  EXPECT_EQ(noted.size(), QSize(377, 341));
  EXPECT_FALSE(noted.ui()->Label_ThreeLines->isHidden());
  EXPECT_EQ(noted.ui()->Label_ThreeLines->text(), QStringLiteral("Supplied by the help desk, extension 4410."));
  EXPECT_EQ(noted.ui()->Label_ThreeLines->size(), QSize(363, 45));
  EXPECT_EQ(noted.ui()->Label_CurrentBuild->text(), QStringLiteral("Version 3 20261210"));
  EXPECT_EQ(noted.findChild<QLabel*>("MessageTitle")->text(), QStringLiteral("Nullifex Help"));
}

TEST_F(HelpTest, HelpFileAndOnlineHelpGoToTheShellAndCloseTheWindow) {
  guitest::WriteBranding("Local4", "https://help.nullifex.test/faq");
  guitest::WriteBranding("Local2", "www.nullifex.test");
  // The help file is looked up in the working directory.
  const QString saved = QDir::currentPath();
  const QString dir = QDir::tempPath() + "/nfx-help-cwd-" + QString::number(QCoreApplication::applicationPid());
  QDir().mkpath(dir);
  QFile file(dir + "/NULLIFEX HELP.HLP");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<html></html>");
  file.close();
  ASSERT_TRUE(QDir::setCurrent(dir));

  UrlCatcher catcher;
  {
    TForm_Help help(nullptr);
    EXPECT_EQ(help.ui()->Label_Website->text(), QStringLiteral("www.nullifex.test"));
    help.show();
    QTest::mouseClick(help.ui()->Button_HelpFile, Qt::LeftButton);
    EXPECT_EQ(help.result(), ResultOk);
    EXPECT_FALSE(help.isVisible());
  }
  {
    TForm_Help help(nullptr);
    help.show();
    QTest::mouseClick(help.ui()->Button_OnlineHelp, Qt::LeftButton);
    EXPECT_EQ(help.result(), ResultOk);
    EXPECT_FALSE(help.isVisible());
  }
  ASSERT_EQ(catcher.urls.size(), 2u);
  EXPECT_EQ(catcher.urls[0], QUrl::fromLocalFile(dir + "/NULLIFEX HELP.HLP"));
  EXPECT_EQ(catcher.urls[1], QUrl(QStringLiteral("https://help.nullifex.test/faq")));

  // Without the file in the working directory nothing is opened, and the
  // window still closes.
  ASSERT_TRUE(file.remove());
  {
    TForm_Help help(nullptr);
    help.show();
    QTest::mouseClick(help.ui()->Button_HelpFile, Qt::LeftButton);
    EXPECT_EQ(help.result(), ResultOk);
  }
  EXPECT_EQ(catcher.urls.size(), 2u);
  QDir::setCurrent(saved);
  QDir(dir).removeRecursively();
}

TEST_F(HelpTest, ClosedWithItsCloseImageButtonItReturnsCancel) {
  guitest::ModalWatcher watcher([](QWidget* window) {
    QTimer::singleShot(0, window, [window] {
      auto* close = window->findChild<TImageButton*>("KTransButton3");
      ASSERT_NE(close, nullptr);
      QTest::mouseClick(close, Qt::LeftButton);
    });
  });
  TForm_Help help(nullptr);
  EXPECT_EQ(help.exec(), ResultCancel);
  EXPECT_EQ(watcher.Seen().size(), 1u);
}

// The program binds the don't-show-again window at start-up; so do these.
class DnsMessageTest : public guitest::GuiTest {
 protected:
  void SetUp() override {
    guitest::GuiTest::SetUp();
    BindGuiServices();
  }
};

// Shows message 0 through the settings and answers it: tick the box or not,
// then Ok. Returns how many windows came up.
int ShowMessage(bool tick) {
  ModalWatcher watcher([tick](QWidget* window) {
    QTimer::singleShot(0, window, [window, tick] {
      if (tick) {
        // On the box itself, as a user ticks it.
        QCheckBox* box = window->findChild<QCheckBox*>("CheckBox_DontShow");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(7, box->height() / 2));
      }
      QTest::mouseClick(Button(window, "Button_Ok"), Qt::LeftButton);
    });
  });
  CSettings().ShowDontShowAgainMessage(0, nullptr);
  Pump(1);
  return static_cast<int>(watcher.Seen().size());
}

TEST_F(DnsMessageTest, ShownUntilTickedThenDnsIsOne) {
  uint32_t dns = 0;
  EXPECT_EQ(ShowMessage(false), 1);
  EXPECT_FALSE(guitest::ReadDword("DNS", dns)) << "Ok without the tick writes nothing";
  EXPECT_EQ(ShowMessage(true), 1);
  ASSERT_TRUE(guitest::ReadDword("DNS", dns));
  EXPECT_EQ(dns, 1u);
  EXPECT_EQ(ShowMessage(true), 0);
}

TEST_F(DnsMessageTest, OtherBitsDoNotMatterAndEscapeStillHonoursTheBox) {
  guitest::WriteDword("DNS", 0xFFFFFFFEu);
  ModalWatcher watcher([](QWidget* window) {
    QTimer::singleShot(0, window, [window] {
      window->findChild<QCheckBox*>("CheckBox_DontShow")->setChecked(true);
      QTest::keyClick(window, Qt::Key_Escape);
    });
  });
  CSettings().ShowDontShowAgainMessage(0, nullptr);
  EXPECT_EQ(watcher.Seen().size(), 1u);
  uint32_t dns = 0;
  ASSERT_TRUE(guitest::ReadDword("DNS", dns));
  EXPECT_EQ(dns, 0xFFFFFFFFu);
}

TEST_F(DnsMessageTest, TheWindowIsLaidOutForItsText) {
  TForm_DNSMessage form(nullptr, 0);
  form.show();
  auto* ui = form.ui();
  EXPECT_EQ(form.width(), 386);
  EXPECT_EQ(ui->MessageBody->width(), 344);
  EXPECT_EQ(ui->MessageBody->text().toStdString(), DontShowAgainBody(0));
  EXPECT_EQ(form.findChild<QLabel*>("MessageTitle")->text(), QStringLiteral("Sector Viewer"));
  EXPECT_EQ(ui->CheckBox_DontShow->text(), QStringLiteral("Don't show me this again"));
  EXPECT_FALSE(ui->CheckBox_DontShow->isChecked());
  const int bodyBottom = ui->MessageBody->y() + ui->MessageBody->height();
  EXPECT_EQ(ui->CheckBox_DontShow->y(), bodyBottom + 15);
  EXPECT_GT(ui->MessageBody->height(), 23);
  EXPECT_TRUE(ui->MessageBody->alignment() & Qt::AlignLeft);
  // body + 2 x its top + check box + panel top + the designed 44 pixels
  // below the panel + 14.
  EXPECT_EQ(form.height(), ui->MessageBody->height() + 2 * 16 + ui->CheckBox_DontShow->height() +
                               31 + 44 + 14);
  // The check box stays inside the panel and the Ok button on the bottom.
  EXPECT_LE(ui->CheckBox_DontShow->geometry().bottom(), ui->PanelMessageWindow->height());
  EXPECT_EQ(form.height() - ui->Button_Ok->geometry().bottom() - 1, 13);
  EXPECT_EQ(form.findChild<TImageButton*>(), nullptr) << "no close image button";
}

}  // namespace

