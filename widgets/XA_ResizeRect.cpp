#include "widgets/XA_ResizeRect.h"

#include <QPainter>
#include <QRegion>

namespace {

// Two dotted rectangles, the second 2 pixels inside the first, in black
// and white dashes so the band shows on any background.
class BandOutline : public QWidget {
 public:
  BandOutline()
      : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                             Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                             Qt::X11BypassWindowManagerHint) {
    setObjectName("XA_ResizeRectBand");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void resizeEvent(QResizeEvent*) override {
    const QRect outer = rect();
    QRegion ring = QRegion(outer).subtracted(QRegion(outer.adjusted(1, 1, -1, -1)));
    const QRect inner = outer.adjusted(2, 2, -2, -2);
    if (inner.isValid()) ring += QRegion(inner).subtracted(QRegion(inner.adjusted(1, 1, -1, -1)));
    setMask(ring);
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    QPen pen(Qt::black, 1, Qt::CustomDashLine);
    pen.setDashPattern({1, 1});
    p.setPen(pen);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.drawRect(rect().adjusted(2, 2, -3, -3));
  }
};

}  // namespace

XA_ResizeRect::XA_ResizeRect(QWidget* window, int minWidth, int minHeight)
    : outline_(std::make_unique<BandOutline>()),
      minWidth_(minWidth),
      minHeight_(minHeight),
      window_(window) {}

XA_ResizeRect::~XA_ResizeRect() = default;

QWidget* XA_ResizeRect::BandWindow() const { return outline_.get(); }

void XA_ResizeRect::DrawBand() {
  if (!enabled_) return;
  outline_->setGeometry(Band());
  outline_->show();
  outline_->raise();
}

void XA_ResizeRect::EraseBand() {
  if (!enabled_) return;
  outline_->hide();
}

void XA_ResizeRect::BeginTrack(int8_t mode, int x, int y) {
  if (tracking_ || !enabled_ || !window_) return;
  tracking_ = true;
  lastX_ = x;
  lastY_ = y;
  const QPoint origin = window_->mapToGlobal(QPoint(0, 0));
  left_ = origin.x();
  top_ = origin.y();
  right_ = left_ + window_->width();
  bottom_ = top_ + window_->height();
  DrawBand();
  mode_ = mode;
}

void XA_ResizeRect::TrackTo(int x, int y) {
  if (!enabled_ || !tracking_) return;
  EraseBand();
  const int dx = x - lastX_;
  const int dy = y - lastY_;
  lastX_ = x;
  lastY_ = y;
  switch (mode_) {
    case rmTopLeft: left_ += dx; top_ += dy; break;
    case rmTopRight: right_ += dx; top_ += dy; break;
    case rmBottomLeft: left_ += dx; bottom_ += dy; break;
    case rmBottomRight: right_ += dx; bottom_ += dy; break;
    case rmTop: top_ += dy; break;
    case rmBottom: bottom_ += dy; break;
    case rmLeft: left_ += dx; break;
    case rmRight: right_ += dx; break;
    default:  // rmMove
      left_ += dx;
      right_ += dx;
      top_ += dy;
      bottom_ += dy;
      break;
  }
  DrawBand();
}

void XA_ResizeRect::EndTrack() {
  if (!tracking_ || !enabled_) return;
  tracking_ = false;
  EraseBand();
  int width = right_ - left_;
  int height = bottom_ - top_;
  if (minWidth_ != -1 && width < minWidth_) width = minWidth_;
  if (minHeight_ != -1 && height < minHeight_) height = minHeight_;
  if (window_) {
    // A frameless top-level window's geometry is its client area, which is
    // what the band was taken from.
    window_->setGeometry(left_, top_, width, height);
    window_->update();
  }
  lastX_ = 0;
  lastY_ = 0;
}
