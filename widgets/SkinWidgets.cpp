#include "widgets/SkinWidgets.h"

#include <QPainter>

TImagePanel::TImagePanel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImagePanel::setImage(const QString& path) {
  imagePath_ = path;
  pixmap_ = QPixmap(path);
  update();
}

void TImagePanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (pixmap_.isNull()) {
    p.fillRect(rect(), palette().window());
    return;
  }
  p.drawTiledPixmap(rect(), pixmap_);
}

TTitleLabel::TTitleLabel(QWidget* parent) : QLabel(parent) {
  QFont f = font();
  f.setBold(true);
  f.setPixelSize(14);
  setFont(f);
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setAttribute(Qt::WA_TranslucentBackground);
}

void TTitleLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(font());
  const QRect r = contentsRect();
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, r.width() - 1);
  p.setPen(QColor(8, 18, 40));
  p.drawText(r.translated(1, 1), static_cast<int>(alignment()), shown);
  p.setPen(Qt::white);
  p.drawText(r, static_cast<int>(alignment()), shown);
}

TImageButton::TImageButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
}

void TImageButton::setImage(const QString& path) {
  paths_[0] = path;
  pixmaps_[0] = QPixmap(path);
  update();
}
void TImageButton::setHotImage(const QString& path) {
  paths_[1] = path;
  pixmaps_[1] = QPixmap(path);
  update();
}
void TImageButton::setDownImage(const QString& path) {
  paths_[2] = path;
  pixmaps_[2] = QPixmap(path);
  update();
}

QSize TImageButton::sizeHint() const {
  return pixmaps_[0].isNull() ? QSize(23, 23) : pixmaps_[0].size();
}

void TImageButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPixmap* pix = &pixmaps_[0];
  if (isDown() && !pixmaps_[2].isNull()) pix = &pixmaps_[2];
  else if ((hot_ || isDown()) && !pixmaps_[1].isNull()) pix = &pixmaps_[1];
  if (!isEnabled()) p.setOpacity(0.45);
  p.drawPixmap((width() - pix->width()) / 2, (height() - pix->height()) / 2, *pix);
}

void TImageButton::enterEvent(QEnterEvent* event) {
  hot_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void TImageButton::leaveEvent(QEvent* event) {
  hot_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

TAnimate::TAnimate(QWidget* parent) : QLabel(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAlignment(Qt::AlignCenter);
  movie_.setCacheMode(QMovie::CacheAll);  // so a loop can jump back
  connect(&movie_, &QMovie::frameChanged, this, &TAnimate::FrameChanged);
}

QString TAnimate::ResourcePath(int number) {
  return QStringLiteral(":/skin/anim%1.gif").arg(number);
}

void TAnimate::setResourceNumber(int number) {
  movie_.stop();
  number_ = number;
  movie_.setFileName(ResourcePath(number));
  setMovie(&movie_);
  Seek(0);
}

void TAnimate::Play(int fromFrame, int toFrame) {
  from_ = std::max(0, fromFrame);
  to_ = toFrame < 0 ? movie_.frameCount() - 1 : std::min(toFrame, movie_.frameCount() - 1);
  if (movie_.state() != QMovie::Running) movie_.start();
  movie_.jumpToFrame(from_);
}

void TAnimate::Stop() {
  movie_.setPaused(true);
}

void TAnimate::Seek(int frame) {
  if (movie_.state() == QMovie::NotRunning) {
    movie_.start();
    movie_.setPaused(true);
  }
  movie_.jumpToFrame(frame);
}

void TAnimate::FrameChanged(int frame) {
  if (movie_.state() != QMovie::Running || to_ < 0) return;
  if (frame > to_ || frame < from_) movie_.jumpToFrame(from_);
}
