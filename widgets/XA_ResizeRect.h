#pragma once
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <memory>

// Which edges of the band follow the mouse. The program only moves windows
// (rmMove); 4 and any value not listed behave like rmMove.
enum ResizeMode : int8_t {
  rmTopLeft = 0,
  rmTopRight = 1,
  rmBottomLeft = 2,
  rmBottomRight = 3,
  rmMove = 5,
  rmTop = 6,
  rmBottom = 7,
  rmLeft = 8,
  rmRight = 9,
};

// The rubber band a borderless window is dragged with: while the mouse
// moves only an outline follows it, and the window jumps to the outline's
// place when the button is released. The outline is a small frameless,
// input-transparent window of its own (there is no drawing on the screen
// itself under Wayland, and a window of its own never leaves fragments in
// the dragged window's paint).
class XA_ResizeRect {
 public:
  // Minimum width and height -1 mean none.
  XA_ResizeRect(QWidget* window, int minWidth, int minHeight);
  ~XA_ResizeRect();
  XA_ResizeRect(const XA_ResizeRect&) = delete;
  XA_ResizeRect& operator=(const XA_ResizeRect&) = delete;

  void BeginTrack(int8_t mode, int x, int y);
  void TrackTo(int x, int y);
  void EndTrack();

  bool IsTracking() const { return tracking_; }
  bool IsEnabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  // The band in screen coordinates (right and bottom exclusive).
  QRect Band() const { return QRect(QPoint(left_, top_), QPoint(right_ - 1, bottom_ - 1)); }
  // The outline window, for tests and screenshots.
  QWidget* BandWindow() const;

 private:
  void DrawBand();
  void EraseBand();

  int32_t left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
  std::unique_ptr<QWidget> outline_;  // the band's own window
  int32_t lastX_ = 0, lastY_ = 0;
  int32_t minWidth_ = -1, minHeight_ = -1;
  QPointer<QWidget> window_;
  bool enabled_ = true;
  bool tracking_ = false;
  int8_t mode_ = rmMove;
};
