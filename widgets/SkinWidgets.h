#pragma once
#include <QAbstractButton>
#include <QLabel>
#include <QMovie>
#include <QPixmap>
#include <QWidget>

// The widget kit the skinned windows are built from. Each class is usable
// from a .ui layout (see the customwidgets of ui/*.ui).

// A panel that tiles one image over its whole area (title bar, sides).
class TImagePanel : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString image READ image WRITE setImage)
 public:
  explicit TImagePanel(QWidget* parent = nullptr);
  QString image() const { return imagePath_; }
  void setImage(const QString& path);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString imagePath_;
  QPixmap pixmap_;
};

// White bold text with a dark sunken shadow, for the title bar.
class TTitleLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TTitleLabel(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A button drawn from images: normal, hot (mouse over) and pressed. Its
// action runs when the mouse is released over it (clicked()).
class TImageButton : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(QString image READ image WRITE setImage)
  Q_PROPERTY(QString hotImage READ hotImage WRITE setHotImage)
  Q_PROPERTY(QString downImage READ downImage WRITE setDownImage)
 public:
  explicit TImageButton(QWidget* parent = nullptr);
  QString image() const { return paths_[0]; }
  QString hotImage() const { return paths_[1]; }
  QString downImage() const { return paths_[2]; }
  void setImage(const QString& path);
  void setHotImage(const QString& path);
  void setDownImage(const QString& path);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QString paths_[3];
  QPixmap pixmaps_[3];
  bool hot_ = false;
};

// An animation of the program's own, by its resource number: 129 (looking
// for updates), 131 (wiping), 132 (verifying), each 70 x 70 pixels. Frames
// are numbered from 0; Play repeats `from` to `to` until stopped.
class TAnimate : public QLabel {
  Q_OBJECT
  Q_PROPERTY(int resourceNumber READ resourceNumber WRITE setResourceNumber)
 public:
  explicit TAnimate(QWidget* parent = nullptr);
  int resourceNumber() const { return number_; }
  void setResourceNumber(int number);
  int FrameCount() const { return movie_.frameCount(); }
  int CurrentFrame() const { return movie_.currentFrameNumber(); }
  bool IsPlaying() const { return movie_.state() == QMovie::Running; }

  void Play(int fromFrame, int toFrame);
  void Stop();
  // Shows frame `frame` without playing.
  void Seek(int frame);
  static QString ResourcePath(int number);

 private:
  void FrameChanged(int frame);
  QMovie movie_;
  int number_ = 0;
  int from_ = 0, to_ = -1;
};
