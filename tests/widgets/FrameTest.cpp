// The skinned frame: title-bar drag through the rubber band, the rounded
// outline and the close image button.
#include <QLabel>
#include <QtTest/QTest>

#include "widgets/SkinWidgets.h"
#include "widgets/TXAMessageBox.h"
#include "tests/widgets/GuiTest.h"

using guitest::SendMouse;

namespace {

class FrameTest : public guitest::GuiTest {
 protected:
  void SetUp() override {
    guitest::GuiTest::SetUp();
    box_ = std::make_unique<TXAMessageBox>(nullptr);
    box_->Fill("Drag me.", "Frame", ButtonsOk, IconInfo);
    box_->show();
    box_->move(200, 150);
    QApplication::processEvents();
    start_ = box_->pos();
    titleBar_ = box_->findChild<QWidget*>("ImagePanelTitleBar");
    ASSERT_NE(titleBar_, nullptr);
  }
  void TearDown() override {
    box_.reset();
    guitest::GuiTest::TearDown();
  }
  QWidget* Band() const { return box_->ResizeRect()->BandWindow(); }

  std::unique_ptr<TXAMessageBox> box_;
  QPoint start_;
  QWidget* titleBar_ = nullptr;
};

TEST_F(FrameTest, TheWindowMovesOnlyAtTheReleaseByTheMouseMovement) {
  SendMouse(titleBar_, QEvent::MouseButtonPress, {40, 10}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_TRUE(box_->Dragging());
  EXPECT_TRUE(Band()->isVisible());
  EXPECT_EQ(Band()->geometry(), QRect(start_, box_->size()));

  SendMouse(titleBar_, QEvent::MouseMove, {70, 30}, Qt::NoButton, Qt::LeftButton);
  SendMouse(titleBar_, QEvent::MouseMove, {100, 5}, Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(box_->pos(), start_) << "the window stays put while the band follows the mouse";
  EXPECT_EQ(Band()->geometry(), QRect(start_ + QPoint(60, -5), box_->size()));

  SendMouse(titleBar_, QEvent::MouseButtonRelease, {100, 5}, Qt::LeftButton, Qt::NoButton);
  EXPECT_FALSE(box_->Dragging());
  EXPECT_FALSE(Band()->isVisible());
  EXPECT_EQ(box_->pos(), start_ + QPoint(60, -5));
  EXPECT_EQ(box_->size(), QSize(373, box_->height()));
}

TEST_F(FrameTest, RightButtonDuringALeftDragDoesNotEndIt) {
  SendMouse(titleBar_, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(titleBar_, QEvent::MouseMove, {20, 10}, Qt::NoButton, Qt::LeftButton);
  SendMouse(titleBar_, QEvent::MouseButtonPress, {20, 10}, Qt::RightButton,
            Qt::LeftButton | Qt::RightButton);
  EXPECT_TRUE(box_->Dragging());
  SendMouse(titleBar_, QEvent::MouseButtonRelease, {20, 10}, Qt::RightButton, Qt::LeftButton);
  EXPECT_TRUE(box_->Dragging());
  EXPECT_TRUE(box_->ResizeRect()->IsTracking());
  EXPECT_EQ(box_->pos(), start_);
  SendMouse(titleBar_, QEvent::MouseMove, {35, 18}, Qt::NoButton, Qt::LeftButton);
  SendMouse(titleBar_, QEvent::MouseButtonRelease, {35, 18}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(box_->pos(), start_ + QPoint(25, 8));
}

TEST_F(FrameTest, ASecondLeftPressDoesNotRestartTheBand) {
  SendMouse(titleBar_, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(titleBar_, QEvent::MouseMove, {30, 10}, Qt::NoButton, Qt::LeftButton);
  // A press from another drag source (the title text) while the band shows.
  QWidget* title = box_->findChild<QWidget*>("MessageTitle");
  ASSERT_NE(title, nullptr);
  SendMouse(title, QEvent::MouseButtonPress, {0, 0}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(Band()->geometry().topLeft(), start_ + QPoint(20, 0));
  // Movement is still measured from the last position of the first drag.
  SendMouse(titleBar_, QEvent::MouseMove, {40, 10}, Qt::NoButton, Qt::LeftButton);
  SendMouse(titleBar_, QEvent::MouseButtonRelease, {40, 10}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(box_->pos(), start_ + QPoint(30, 0));
}

TEST_F(FrameTest, AReleaseWithoutMovementLeavesTheWindowInPlaceAndOtherPartsDoNotDrag) {
  SendMouse(titleBar_, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(titleBar_, QEvent::MouseButtonRelease, {10, 10}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(box_->pos(), start_);
  EXPECT_EQ(box_->size().width(), 373);

  // A right-button press alone does not start a drag; the icon is a drag
  // source of the box, the content panel is not.
  SendMouse(titleBar_, QEvent::MouseButtonPress, {10, 10}, Qt::RightButton, Qt::RightButton);
  EXPECT_FALSE(box_->Dragging());
  SendMouse(titleBar_, QEvent::MouseButtonRelease, {10, 10}, Qt::RightButton, Qt::NoButton);
  QWidget* icon = box_->findChild<QWidget*>("ImageInfo");
  SendMouse(icon, QEvent::MouseButtonPress, {2, 2}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_TRUE(box_->Dragging());
  SendMouse(icon, QEvent::MouseMove, {12, 2}, Qt::NoButton, Qt::LeftButton);
  SendMouse(icon, QEvent::MouseButtonRelease, {12, 2}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(box_->pos(), start_ + QPoint(10, 0));
  QWidget* panel = box_->findChild<QWidget*>("PanelMessageWindow");
  SendMouse(panel, QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_FALSE(box_->Dragging());
  SendMouse(panel, QEvent::MouseButtonRelease, {20, 20}, Qt::LeftButton, Qt::NoButton);
}

TEST_F(FrameTest, FramePartsAndRoundedOutline) {
  for (const char* name : {"ImagePanelTitleBar", "MessageTitle", "ImageTL", "ImageTR", "ImageBL",
                           "ImageBR", "ImagePanelLeftSide", "ImagePanelRightSide",
                           "ImagePanelBottomSide", "PanelMessageWindow"}) {
    EXPECT_NE(box_->findChild<QWidget*>(name), nullptr) << name;
  }
  EXPECT_TRUE(box_->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(titleBar_->geometry(), QRect(0, 0, box_->width(), 35));
  for (const char* corner : {"ImageTL", "ImageTR", "ImageBL", "ImageBR"}) {
    EXPECT_EQ(box_->findChild<QWidget*>(corner)->size(), QSize(13, 13)) << corner;
  }
  // The message box has no close image button.
  EXPECT_EQ(box_->findChild<TImageButton*>(), nullptr);

  const QRegion outline = box_->mask();
  const int w = box_->width(), h = box_->height();
  EXPECT_EQ(outline.boundingRect(), QRect(0, 0, w, h));
  for (QPoint cut : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1),
                     QPoint(1, 1)}) {
    EXPECT_FALSE(outline.contains(cut)) << cut.x() << "," << cut.y();
  }
  for (QPoint in : {QPoint(w / 2, 0), QPoint(0, h / 2), QPoint(w - 1, h / 2), QPoint(w / 2, h - 1),
                    QPoint(7, 7)}) {
    EXPECT_TRUE(outline.contains(in)) << in.x() << "," << in.y();
  }
}

TEST_F(FrameTest, EachResizeModeMovesItsEdges) {
  struct Case {
    int mode;
    QRect expected;  // from (100, 100, 200, 150) after a move of (+10, +20)
  };
  const Case cases[] = {
      {rmTopLeft, QRect(QPoint(110, 120), QPoint(299, 249))},
      {rmTopRight, QRect(QPoint(100, 120), QPoint(309, 249))},
      {rmBottomLeft, QRect(QPoint(110, 100), QPoint(299, 269))},
      {rmBottomRight, QRect(QPoint(100, 100), QPoint(309, 269))},
      {rmTop, QRect(QPoint(100, 120), QPoint(299, 249))},
      {rmBottom, QRect(QPoint(100, 100), QPoint(299, 269))},
      {rmLeft, QRect(QPoint(110, 100), QPoint(299, 249))},
      {rmRight, QRect(QPoint(100, 100), QPoint(309, 249))},
      {rmMove, QRect(110, 120, 200, 150)},
      {4, QRect(110, 120, 200, 150)},
      {-3, QRect(110, 120, 200, 150)},
  };
  for (const Case& c : cases) {
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.setGeometry(100, 100, 200, 150);
    window.show();
    XA_ResizeRect band(&window, -1, -1);
    band.BeginTrack(static_cast<int8_t>(c.mode), 5, 5);
    band.TrackTo(10, 15);
    band.TrackTo(15, 25);
    EXPECT_EQ(window.geometry(), QRect(100, 100, 200, 150)) << "mode " << c.mode;
    band.EndTrack();
    EXPECT_EQ(window.geometry(), c.expected) << "mode " << c.mode;
    EXPECT_FALSE(band.IsTracking());
  }

  // A minimum size raises a smaller band; a disabled band does nothing.
  QWidget window(nullptr, Qt::FramelessWindowHint);
  window.setGeometry(100, 100, 200, 150);
  window.show();
  XA_ResizeRect limited(&window, 180, 140);
  limited.BeginTrack(rmBottomRight, 0, 0);
  limited.TrackTo(-50, -50);
  limited.EndTrack();
  EXPECT_EQ(window.geometry(), QRect(100, 100, 180, 140));
  XA_ResizeRect off(&window, -1, -1);
  off.SetEnabled(false);
  off.BeginTrack(rmMove, 0, 0);
  EXPECT_FALSE(off.IsTracking());
  off.TrackTo(40, 40);
  off.EndTrack();
  EXPECT_EQ(window.geometry(), QRect(100, 100, 180, 140));
}

}  // namespace
