// The widget kit's image buttons and animations over the skin resources.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "widgets/SkinWidgets.h"
#include "tests/widgets/GuiTest.h"

namespace {

class SkinWidgetsTest : public guitest::GuiTest {};

TEST_F(SkinWidgetsTest, TheThreeAnimationsLoadAndLoopWithinTheirRange) {
  struct Case {
    int number;
    int minFrames;  // the windows play up to these frames
  };
  for (Case c : {Case{129, 26}, Case{131, 24}, Case{132, 41}}) {
    TAnimate animation;
    animation.setResourceNumber(c.number);
    EXPECT_GE(animation.FrameCount(), c.minFrames) << c.number;
    ASSERT_NE(animation.movie(), nullptr);
    EXPECT_EQ(animation.movie()->currentImage().size(), QSize(70, 70)) << c.number;
    EXPECT_FALSE(animation.IsPlaying());
  }

  TAnimate scan;
  scan.setResourceNumber(132);
  scan.show();
  std::vector<int> frames;
  QObject::connect(scan.movie(), &QMovie::frameChanged, [&](int f) { frames.push_back(f); });
  scan.Play(2, 5);
  EXPECT_TRUE(scan.IsPlaying());
  // Three rounds of the range at least, however slow the machine.
  QElapsedTimer clock;
  clock.start();
  while (frames.size() < 14 && clock.elapsed() < 10000) guitest::Pump(20);
  scan.Stop();
  EXPECT_FALSE(scan.IsPlaying());
  ASSERT_GT(frames.size(), 5u) << "the animation ran through its range more than once";
  int wraps = 0;
  for (size_t i = 1; i < frames.size(); ++i) {
    if (frames[i] < frames[i - 1]) ++wraps;
    // Frame 6 is reported and replaced by frame 2 before it is painted.
    if (i > 1) {
      EXPECT_GE(frames[i], 2) << "frame " << frames[i];
      EXPECT_LE(frames[i], 6) << "frame " << frames[i];
    }
  }
  EXPECT_GE(wraps, 1);
  EXPECT_GE(scan.CurrentFrame(), 2);
  EXPECT_LE(scan.CurrentFrame(), 5);
}

TEST_F(SkinWidgetsTest, ImageButtonsActOnReleaseOverThemAndNotWhenDisabled) {
  TImageButton button;
  button.setImage(":/skin/help.png");
  button.setHotImage(":/skin/help_hot.png");
  EXPECT_EQ(button.sizeHint(), QSize(32, 32));
  button.resize(button.sizeHint());
  button.show();
  QSignalSpy clicked(&button, &QAbstractButton::clicked);
  QTest::mousePress(&button, Qt::LeftButton);
  EXPECT_EQ(clicked.count(), 0);
  QTest::mouseRelease(&button, Qt::LeftButton);
  EXPECT_EQ(clicked.count(), 1);
  // Released away from the button: nothing.
  QTest::mousePress(&button, Qt::LeftButton);
  QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(100, 100));
  EXPECT_EQ(clicked.count(), 1);
  button.setEnabled(false);
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(clicked.count(), 1);
}

}  // namespace
