// The skinned message box and the please-wait window.
#include <QKeyEvent>
#include <QLabel>
#include <QtTest/QTest>

#include "widgets/TForm_PleaseWait.h"
#include "widgets/TXAMessageBox.h"
#include "tests/widgets/GuiTest.h"
#include "ui_TXAMessageBox.h"

using guitest::Button;
using guitest::ModalWatcher;

namespace {

class MessageBoxTest : public guitest::GuiTest {};

// Shows a box through SkinnedMessageBox and answers it by clicking the
// visible button with `caption`, or by Escape when the caption is empty.
int Answer(int buttons, const QString& caption) {
  ModalWatcher watcher([caption](QWidget* box) {
    QTimer::singleShot(0, box, [box, caption] {
      if (caption.isEmpty()) {
        QTest::keyClick(box, Qt::Key_Escape);
        return;
      }
      for (QPushButton* b : box->findChildren<QPushButton*>()) {
        if (!b->isHidden() && b->text() == caption) {
          QTest::mouseClick(b, Qt::LeftButton);
          return;
        }
      }
      ADD_FAILURE() << "no visible button " << caption.toStdString();
      QTest::keyClick(box, Qt::Key_Escape);
    });
  });
  return SkinnedMessageBox(nullptr, "Question?", "Title", buttons, IconQuestion);
}

std::vector<QString> VisibleCaptions(TXAMessageBox& box) {
  std::vector<std::pair<int, QString>> shown;
  for (QPushButton* b : box.findChildren<QPushButton*>()) {
    if (!b->isHidden()) shown.push_back({b->x(), b->text()});
  }
  std::sort(shown.begin(), shown.end());
  std::vector<QString> out;
  for (auto& s : shown) out.push_back(s.second);
  return out;
}

TEST_F(MessageBoxTest, EveryButtonOfEverySetAndEscapeGiveTheirResults) {
  struct Case {
    int buttons;
    const char* caption;  // "" = Escape
    int result;
  };
  const Case cases[] = {
      {ButtonsOk, "Ok", ResultOk},
      {ButtonsOk, "", ResultCancel},
      {ButtonsOkCancel, "Ok", ResultOk},
      {ButtonsOkCancel, "Cancel", ResultCancel},
      {ButtonsOkCancel, "", ResultCancel},
      {ButtonsYesNo, "Yes", ResultYes},
      {ButtonsYesNo, "No", ResultNo},
      {ButtonsYesNo, "", ResultNo},
      {ButtonsYesAllNoAbort, "Yes", ResultYes},
      {ButtonsYesAllNoAbort, "Yes to All", ResultYesToAll},
      {ButtonsYesAllNoAbort, "No", ResultNo},
      {ButtonsYesAllNoAbort, "Abort", ResultAbort},
      {ButtonsYesAllNoAbort, "", ResultNo},
      {ButtonsAbortRetryIgnore, "Abort", ResultAbort},
      {ButtonsAbortRetryIgnore, "Retry", ResultRetry},
      {ButtonsAbortRetryIgnore, "Ignore", ResultIgnore},
      {ButtonsAbortRetryIgnore, "", ResultCancel},
      {ButtonsRetryCancel, "Retry", ResultRetry},
      {ButtonsRetryCancel, "Cancel", ResultCancel},
      {ButtonsRetryCancel, "", ResultCancel},
      {9, "", ResultCancel},  // a set with no buttons ends only by Escape
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Answer(c.buttons, QString::fromLatin1(c.caption)), c.result)
        << "set " << c.buttons << " button '" << c.caption << "'";
  }
}

TEST_F(MessageBoxTest, EachSetShowsItsButtonsAtTheirPositions) {
  struct Case {
    int buttons;
    std::vector<QString> captions;
    std::vector<int> lefts;
  };
  const Case cases[] = {
      {ButtonsOk, {"Ok"}, {149}},
      {ButtonsOkCancel, {"Ok", "Cancel"}, {105, 193}},
      {ButtonsYesNo, {"Yes", "No"}, {107, 191}},
      {ButtonsYesAllNoAbort, {"Yes", "Yes to All", "No", "Abort"}, {17, 105, 193, 281}},
      {ButtonsAbortRetryIgnore, {"Abort", "Retry", "Ignore"}, {66, 149, 232}},
      {ButtonsRetryCancel, {"Retry", "Cancel"}, {104, 193}},
      {6, {}, {}},
  };
  for (const Case& c : cases) {
    TXAMessageBox box(nullptr);
    box.Fill("Text", "Title", c.buttons, IconInfo);
    EXPECT_EQ(VisibleCaptions(box), c.captions) << "set " << c.buttons;
    std::vector<int> lefts;
    for (QPushButton* b : box.findChildren<QPushButton*>()) {
      if (!b->isHidden()) {
        lefts.push_back(b->x());
        EXPECT_EQ(b->size(), QSize(75, 23));
      }
    }
    std::sort(lefts.begin(), lefts.end());
    EXPECT_EQ(lefts, c.lefts) << "set " << c.buttons;
  }
}

TEST_F(MessageBoxTest, HeightFollowsTheTextAndButtonsStayAboveTheBottomEdge) {
  TXAMessageBox one(nullptr);
  one.Fill("One short line.", "Title", ButtonsYesNo, IconQuestion);
  one.show();
  QLabel* body = one.ui()->MessageBody;
  const int lineHeight = body->height();
  EXPECT_GT(lineHeight, 10);
  EXPECT_LT(lineHeight, 24);
  EXPECT_EQ(one.height(), lineHeight + 106);
  EXPECT_EQ(one.width(), 373);
  EXPECT_TRUE(body->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(one.ui()->PanelMessageWindow->height(), lineHeight + 16 + 15);
  for (QPushButton* b : {Button(&one, "Button_Yes"), Button(&one, "Button_No")}) {
    EXPECT_EQ(one.height() - (b->y() + b->height()), 13);
  }
  // The outline follows the new size.
  EXPECT_EQ(one.mask().boundingRect(), QRect(0, 0, one.width(), one.height()));

  TXAMessageBox three(nullptr);
  three.Fill("First line\nSecond line\nThird line", "Title", ButtonsOk, IconInfo);
  three.show();
  QLabel* body3 = three.ui()->MessageBody;
  EXPECT_EQ(body3->height(), 3 * lineHeight);
  EXPECT_EQ(three.height(), body3->height() + 106);
  EXPECT_TRUE(body3->alignment() & Qt::AlignLeft);
  EXPECT_FALSE(body3->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(body3->width(), 332);
  QPushButton* ok = Button(&three, "Button_Ok");
  EXPECT_EQ(three.height() - (ok->y() + ok->height()), 13);

  // A long paragraph wraps at the body's width.
  TXAMessageBox wrapped(nullptr);
  wrapped.Fill(std::string(40, 'w') + " " + std::string(40, 'w') + " " + std::string(40, 'w'),
               "Title", ButtonsOk, IconInfo);
  EXPECT_GE(wrapped.ui()->MessageBody->height(), 2 * lineHeight);
  EXPECT_EQ(wrapped.height(), wrapped.ui()->MessageBody->height() + 106);
}

TEST_F(MessageBoxTest, IconsAndAnIconOutsideTheRangeShowsInformation) {
  struct Case {
    int icon;
    const char* shown;
  };
  const Case cases[] = {{IconInfo, "ImageInfo"},   {IconCaution, "ImageCaution"},
                        {IconError, "ImageError"}, {IconQuestion, "ImageQuestion"},
                        {7, "ImageInfo"},          {-1, "ImageInfo"}};
  for (const Case& c : cases) {
    TXAMessageBox box(nullptr);
    box.Fill("Text", "Title", ButtonsOk, c.icon);
    int visible = 0;
    for (const char* name : {"ImageInfo", "ImageCaution", "ImageError", "ImageQuestion"}) {
      QLabel* image = box.findChild<QLabel*>(QString::fromLatin1(name));
      ASSERT_NE(image, nullptr) << name;
      if (!image->isHidden()) {
        ++visible;
        EXPECT_STREQ(name, c.shown) << "icon " << c.icon;
      }
    }
    EXPECT_EQ(visible, 1) << "icon " << c.icon;
  }
}

TEST_F(MessageBoxTest, FocusStartsLeftAndTabMovesRightAndEnterPressesTheFocusedButton) {
  {
    // Enter on the first focus answers with the leftmost button.
    ModalWatcher enter([](QWidget* box) {
      QTimer::singleShot(0, box, [box] { QTest::keyClick(box->focusWidget(), Qt::Key_Return); });
    });
    EXPECT_EQ(SkinnedMessageBox(nullptr, "Go on?", "Title", ButtonsYesAllNoAbort, IconQuestion),
              ResultYes);
  }

  TXAMessageBox box(nullptr);
  box.Fill("Go on?", "Title", ButtonsYesAllNoAbort, IconQuestion);
  box.show();
  box.activateWindow();
  QApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), Button(&box, "Button_Yes3"));
  const char* order[] = {"Button_YesToAll", "Button_No3", "Button_Abort"};
  for (const char* name : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Button(&box, name)) << name;
  }
  // Space presses the focused button too.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_EQ(box.result(), ResultAbort);

  // There is no default button: Enter follows the focus.
  ModalWatcher tabEnter([](QWidget* box) {
    QTimer::singleShot(0, box, [box] {
      QTest::keyClick(box->focusWidget(), Qt::Key_Tab);
      QTest::keyClick(box->focusWidget(), Qt::Key_Return);
    });
  });
  EXPECT_EQ(SkinnedMessageBox(nullptr, "Go on?", "Title", ButtonsYesAllNoAbort, IconQuestion),
            ResultYesToAll);
}

TEST_F(MessageBoxTest, TextsAreWindows1252AndTitleIsShown) {
  TXAMessageBox box(nullptr);
  box.Fill("Drive A: 3\xBD Floppy \x80", "Caf\xE9", ButtonsOk, IconInfo);
  EXPECT_EQ(box.ui()->MessageBody->text(), QString::fromUtf8("Drive A: 3½ Floppy €"));
  QLabel* title = box.findChild<QLabel*>("MessageTitle");
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->text(), QString::fromUtf8("Café"));
  EXPECT_EQ(box.windowTitle(), QString::fromUtf8("Café"));
}

TEST_F(MessageBoxTest, AskUserIsBoundToTheBox) {
  ModalWatcher watcher([](QWidget* box) {
    QTimer::singleShot(0, box, [box] { QTest::mouseClick(Button(box, "Button_Retry5"), Qt::LeftButton); });
  });
  EXPECT_EQ(platform::AskUser("Try again?", "Read Error", ButtonsRetryCancel, IconError), ResultRetry);
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0], QStringLiteral("TXAMessageBox"));
  EXPECT_EQ(watcher.Titles()[0], QStringLiteral("Read Error"));
}

TEST_F(MessageBoxTest, PleaseWaitShowsItsFixedContentWithDisabledButtons) {
  TForm_PleaseWait wait(nullptr);
  wait.ShowNow();
  EXPECT_TRUE(wait.isVisible());
  EXPECT_FALSE(wait.isModal());
  EXPECT_EQ(wait.size(), QSize(396, 148));
  EXPECT_EQ(wait.findChild<QLabel*>("MessageTitle")->text(), QStringLiteral("Initializing Drive"));
  QLabel* text = wait.findChild<QLabel*>("Label_Message");
  EXPECT_EQ(text->text(), QStringLiteral("Preparing to view sectors..."));
  EXPECT_EQ(text->width(), 354);
  EXPECT_FALSE(wait.findChild<QLabel*>("ImageInfo")->isHidden());
  for (const char* name : {"Button_Ok", "Button_Cancel"}) {
    QPushButton* b = Button(&wait, name);
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->isEnabled());
  }
  wait.close();
}

}  // namespace
