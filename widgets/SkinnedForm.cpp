#include "widgets/SkinnedForm.h"

#include <QApplication>
#include <QWindow>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>

#include "widgets/SkinWidgets.h"

namespace skin {
QFont BodyFont() {
  // Liberation Sans has Arial's metrics, so texts wrap and measure as the
  // layouts were designed.
  QFont f(QStringLiteral("Liberation Sans"));
  f.setPixelSize(13);
  return f;
}
}  // namespace skin

namespace {

// The skinned push buttons, check boxes and panels of the widget kit. A
// content panel is named Panel1 or PanelMessageWindow, or, where a window
// has several (the wizard's steps), carries the property skinPanel=true.
const char kStyleSheet[] = R"(
QFrame#Panel1, QFrame#PanelMessageWindow, QFrame[skinPanel="true"] {
  background: rgb(252, 251, 239);
  border: 1px solid rgb(14, 26, 54);
}
QFrame#Panel1 QLabel, QFrame#PanelMessageWindow QLabel, QFrame[skinPanel="true"] QLabel, QCheckBox { color: rgb(28, 34, 48); }
QPushButton {
  color: rgb(20, 32, 60);
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:0.5 #eef0f5, stop:1 #cfd6e4);
  border: 1px solid rgb(14, 26, 54);
  border-radius: 3px;
  padding: 0 6px;
}
QPushButton:hover {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #dfe8f8);
}
QPushButton:pressed {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #c6cfdf, stop:1 #e8ecf3);
}
QPushButton:focus { border: 1px solid rgb(226, 150, 28); }
QPushButton:default { border: 2px solid rgb(14, 26, 54); }
QPushButton:default:focus { border: 2px solid rgb(226, 150, 28); }
QPushButton:disabled {
  color: rgb(140, 146, 160);
  background: rgb(226, 228, 233);
  border: 1px solid rgb(110, 120, 144);
}
QComboBox {
  color: rgb(20, 32, 60);
  background: white;
  border: 1px solid rgb(14, 26, 54);
  border-radius: 2px;
  padding: 1px 6px;
}
QComboBox:disabled {
  color: rgb(140, 146, 160);
  background: rgb(226, 228, 233);
  border: 1px solid rgb(110, 120, 144);
}
)";

bool HasAnchor(const QStringList& parts, const char* edge) {
  return parts.contains(QString::fromLatin1(edge), Qt::CaseInsensitive);
}

}  // namespace

TSkinnedForm::TSkinnedForm(QWidget* owner) : QDialog(owner) {
  setWindowFlags((owner ? Qt::Dialog : Qt::Window) | Qt::FramelessWindowHint);
  setFont(skin::BodyFont());
  setAttribute(Qt::WA_DeleteOnClose, false);
}

TSkinnedForm::~TSkinnedForm() = default;

void TSkinnedForm::SetupFrame(const FrameOptions& options) {
  options_ = options;
  setStyleSheet(QString::fromLatin1(kStyleSheet));

  auto panel = [this](const char* name, const char* image) {
    auto* p = new TImagePanel(this);
    p->setObjectName(QString::fromLatin1(name));
    p->setImage(QString::fromLatin1(image));
    return p;
  };
  titleBar_ = panel("ImagePanelTitleBar", ":/skin/titlebar.png");
  titleBar_->setObjectName(options.titleBarName);
  leftSide_ = panel("ImagePanelLeftSide", ":/skin/side_left.png");
  rightSide_ = panel("ImagePanelRightSide", ":/skin/side_right.png");
  bottomSide_ = panel("ImagePanelBottomSide", ":/skin/side_bottom.png");
  // Title bar and borders lie under the content panel, which overlaps the
  // title bar's lower edge.
  for (QWidget* w : {static_cast<QWidget*>(titleBar_), static_cast<QWidget*>(leftSide_),
                     static_cast<QWidget*>(rightSide_), static_cast<QWidget*>(bottomSide_)}) {
    w->lower();
  }

  static const char* cornerNames[4] = {"ImageTL", "ImageTR", "ImageBL", "ImageBR"};
  static const char* cornerImages[4] = {":/skin/corner_tl.png", ":/skin/corner_tr.png",
                                        ":/skin/corner_bl.png", ":/skin/corner_br.png"};
  for (int i = 0; i < 4; ++i) {
    corners_[i] = new QLabel(this);
    corners_[i]->setObjectName(QString::fromLatin1(cornerNames[i]));
    corners_[i]->setPixmap(QPixmap(QString::fromLatin1(cornerImages[i])));
    corners_[i]->resize(skin::kCornerSize, skin::kCornerSize);
    corners_[i]->setAttribute(Qt::WA_TransparentForMouseEvents);
    corners_[i]->raise();
  }

  titleLabel_ = new TTitleLabel(this);
  titleLabel_->setObjectName(QStringLiteral("MessageTitle"));
  titleLabel_->raise();
  SetTitle(options.title);

  auto imageButton = [this](const QString& name, const char* base) {
    auto* b = new TImageButton(this);
    b->setObjectName(name);
    b->setImage(QStringLiteral(":/skin/%1.png").arg(QLatin1String(base)));
    b->setHotImage(QStringLiteral(":/skin/%1_hot.png").arg(QLatin1String(base)));
    b->setDownImage(QStringLiteral(":/skin/%1_down.png").arg(QLatin1String(base)));
    b->resize(skin::kImageButtonSize, skin::kImageButtonSize);
    b->raise();
    return b;
  };
  if (!options.closeButtonName.isEmpty()) {
    closeButton_ = imageButton(options.closeButtonName, "close");
    closeButton_->setToolTip(tr("Close"));
    connect(closeButton_, &QAbstractButton::clicked, this, [this] { CloseButtonClick(); });
  }
  if (!options.minimizeButtonName.isEmpty()) {
    minimizeButton_ = imageButton(options.minimizeButtonName, "minimize");
    minimizeButton_->setToolTip(tr("Minimize"));
    // Every window of the program goes to the task bar with the main one.
    connect(minimizeButton_, &QAbstractButton::clicked, this, [this] { window()->showMinimized(); });
  }

  if (options.draggable) {
    AddDragSource(titleBar_);
    AddDragSource(titleLabel_);
  }

  dragging_ = false;
  resizeRect_ = std::make_unique<XA_ResizeRect>(this, -1, -1);
  CollectAnchors();
  LayoutFrame();
  ApplyRoundedRegion(width(), height());
}

void TSkinnedForm::SetTitle(const QString& title) {
  if (titleLabel_) titleLabel_->setText(title);
  setWindowTitle(title);
}

void TSkinnedForm::ResizeFrame(int width, int height) {
  resize(width, height);
  LayoutFrame();
  ApplyAnchors(this);
  ApplyRoundedRegion(width, height);
}

void TSkinnedForm::AddDragSource(QWidget* source) {
  if (!source) return;
  source->installEventFilter(this);
  dragSources_.emplace_back(source);
}

void TSkinnedForm::LayoutFrame() {
  if (!titleBar_) return;
  const int w = width(), h = height();
  const int c = skin::kCornerSize;
  titleBar_->setGeometry(0, 0, w, skin::kTitleBarHeight);
  leftSide_->setGeometry(0, skin::kTitleBarHeight, skin::kLeftSide, h - skin::kTitleBarHeight);
  rightSide_->setGeometry(w - skin::kRightSide, skin::kTitleBarHeight, skin::kRightSide,
                          h - skin::kTitleBarHeight);
  bottomSide_->setGeometry(0, h - skin::kBottomSide, w, skin::kBottomSide);
  corners_[0]->move(0, 0);
  corners_[1]->move(w - c, 0);
  corners_[2]->move(0, h - c);
  corners_[3]->move(w - c, h - c);
  // The visible title bar ends where the content panel begins (31).
  const int buttonTop = 4;
  int right = w - 6;
  if (closeButton_) {
    right -= skin::kImageButtonSize;
    closeButton_->move(right, buttonTop);
    right -= 2;
  }
  if (minimizeButton_) {
    right -= skin::kImageButtonSize;
    minimizeButton_->move(right, buttonTop);
    right -= 2;
  }
  titleLabel_->setGeometry(options_.titleLeft, 3, right - options_.titleLeft - 4, 25);
}

void TSkinnedForm::ApplyRoundedRegion(int width, int height) {
  // The outline spans (0, 0) to (width + 1, height + 1), right and bottom
  // exclusive, so the whole window is inside it apart from the corners.
  constexpr int kEllipse = 15;
  const int w = width + 1, h = height + 1;
  if (w <= kEllipse || h <= kEllipse) {
    clearMask();
    return;
  }
  QRegion region(kEllipse / 2, 0, w - 2 * (kEllipse / 2), h);
  region += QRegion(0, kEllipse / 2, w, h - 2 * (kEllipse / 2));
  region += QRegion(0, 0, kEllipse, kEllipse, QRegion::Ellipse);
  region += QRegion(w - kEllipse, 0, kEllipse, kEllipse, QRegion::Ellipse);
  region += QRegion(0, h - kEllipse, kEllipse, kEllipse, QRegion::Ellipse);
  region += QRegion(w - kEllipse, h - kEllipse, kEllipse, kEllipse, QRegion::Ellipse);
  setMask(region.intersected(QRegion(0, 0, width, height)));
}

void TSkinnedForm::ImagePanelTitleBarMouseDown(QWidget*, Qt::MouseButton, Qt::MouseButtons shift,
                                               int x, int y) {
  dragging_ = shift.testFlag(Qt::LeftButton);
  if (dragging_ && QGuiApplication::platformName() == QLatin1String("wayland") && windowHandle() &&
      !resizeRect_->IsTracking()) {
    // A Wayland client can neither place its own windows nor an outline on
    // the screen; the compositor moves the window instead, for this press.
    if (windowHandle()->startSystemMove()) {
      dragging_ = false;
      return;
    }
  }
  if (dragging_) resizeRect_->BeginTrack(rmMove, x, y);
}

void TSkinnedForm::ImagePanelTitleBarMouseMove(QWidget*, Qt::MouseButtons, int x, int y) {
  if (dragging_) resizeRect_->TrackTo(x, y);
}

void TSkinnedForm::ImagePanelTitleBarMouseUp(QWidget*, Qt::MouseButton, Qt::MouseButtons shift, int,
                                             int) {
  dragging_ = shift.testFlag(Qt::LeftButton);
  if (!dragging_) resizeRect_->EndTrack();
}

bool TSkinnedForm::eventFilter(QObject* watched, QEvent* event) {
  const auto type = event->type();
  if (type == QEvent::MouseButtonPress || type == QEvent::MouseMove ||
      type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick) {
    auto* source = qobject_cast<QWidget*>(watched);
    bool isSource = false;
    for (const auto& s : dragSources_) isSource = isSource || s == source;
    if (isSource && resizeRect_) {
      auto* me = static_cast<QMouseEvent*>(event);
      const QPoint pos = me->position().toPoint();
      // Qt reports the buttons held after the event: a press includes the
      // pressed button, a release no longer holds the released one, as
      // the drag rules expect.
      if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        ImagePanelTitleBarMouseDown(source, me->button(), me->buttons(), pos.x(), pos.y());
      } else if (type == QEvent::MouseMove) {
        ImagePanelTitleBarMouseMove(source, me->buttons(), pos.x(), pos.y());
      } else {
        ImagePanelTitleBarMouseUp(source, me->button(), me->buttons(), pos.x(), pos.y());
      }
      return true;
    }
  }
  if (type == QEvent::Resize) {
    if (auto* w = qobject_cast<QWidget*>(watched)) ApplyAnchors(w);
  }
  return QDialog::eventFilter(watched, event);
}

void TSkinnedForm::CollectAnchors() {
  anchored_.clear();
  const auto children = findChildren<QWidget*>();
  std::vector<QWidget*> parents;
  for (QWidget* w : children) {
    const QVariant v = w->property("anchors");
    if (!v.isValid()) continue;
    const QStringList parts = v.toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    QStringList trimmed;
    for (const QString& p : parts) trimmed << p.trimmed();
    QWidget* parent = w->parentWidget();
    if (!parent) continue;
    anchored_.push_back({w, w->geometry(), parent->size(), HasAnchor(trimmed, "left"),
                         HasAnchor(trimmed, "top"), HasAnchor(trimmed, "right"),
                         HasAnchor(trimmed, "bottom")});
    if (parent != this && std::find(parents.begin(), parents.end(), parent) == parents.end()) {
      parents.push_back(parent);
      parent->installEventFilter(this);
    }
  }
}

void TSkinnedForm::ApplyAnchors(QWidget* parent) {
  for (const Anchored& a : anchored_) {
    if (!a.widget || a.widget->parentWidget() != parent) continue;
    const int dw = parent->width() - a.parentDesign.width();
    const int dh = parent->height() - a.parentDesign.height();
    QRect g = a.design;
    const bool l = a.left || !a.right, t = a.top || !a.bottom;
    if (l && a.right) g.setWidth(a.design.width() + dw);
    else if (!l) g.moveLeft(a.design.left() + dw);
    if (t && a.bottom) g.setHeight(a.design.height() + dh);
    else if (!t) g.moveTop(a.design.top() + dh);
    if (a.widget->geometry() != g) {
      a.widget->setGeometry(g);
      ApplyAnchors(a.widget);  // its own anchored controls, also while hidden
    }
  }
}

void TSkinnedForm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayoutFrame();
  ApplyAnchors(this);
  // Every resize keeps the outline rounded at the new size.
  if (titleBar_) ApplyRoundedRegion(width(), height());
}

void TSkinnedForm::showEvent(QShowEvent* event) {
  if (!placed_) {
    // Centred on the owner, a window without one on the screen.
    placed_ = true;
    QRect area;
    // A hidden owner (the main window while a feature window is up) still
    // has its place on the screen.
    if (QWidget* owner = parentWidget(); owner && owner->window()->testAttribute(Qt::WA_WState_Created)) {
      area = owner->window()->frameGeometry();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
      area = screen->availableGeometry();
    }
    if (area.isValid()) move(area.center() - QPoint(width() / 2, height() / 2));
  }
  QDialog::showEvent(event);
}

void TSkinnedForm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor::fromRgb(skin::kWindowColour));
}

void TSkinnedForm::CloseButtonClick() { close(); }

void TSkinnedForm::reject() { done(ResultCancel); }

void TSkinnedForm::accept() { done(ResultOk); }

void TSkinnedForm::HideWhile(const std::function<void()>& run) {
  // QWidget's own hide: QDialog's also leaves the modal loop of exec().
  QWidget::setVisible(false);
  run();
  show();
}
