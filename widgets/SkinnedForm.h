#pragma once
#include <QDialog>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "platform/AskUser.h"
#include "widgets/XA_ResizeRect.h"

class TImageButton;
class TImagePanel;
class TTitleLabel;
class QLabel;

// Colours of the skin.
namespace skin {
inline constexpr QRgb kWindowColour = 0xFF253F73;  // RGB(37, 63, 115), between the skin parts
inline constexpr QRgb kPanelColour = 0xFFFCFBEF;   // RGB(252, 251, 239), content panels
inline constexpr int kTitleBarHeight = 35;
inline constexpr int kCornerSize = 13;
inline constexpr int kLeftSide = 5;
inline constexpr int kRightSide = 4;
inline constexpr int kBottomSide = 5;
inline constexpr int kImageButtonSize = 23;
// The body text of messages: a 13-pixel face with Arial's metrics.
QFont BodyFont();
}  // namespace skin

// How a window wants its frame.
struct FrameOptions {
  QString title;
  // The title bar's component name: "ImagePanelTitleBar", on the main
  // window "ImagePanel2".
  QString titleBarName = QStringLiteral("ImagePanelTitleBar");
  // Name of the close image button ("KTransButton3", "KTransButtonExit");
  // empty for a window without one.
  QString closeButtonName;
  // Name of the minimise image button; only the main window has one.
  QString minimizeButtonName;
  // Left edge of the title text (the message box puts its icon before it).
  int titleLeft = 10;
  // False for a window that cannot be dragged by its title bar.
  bool draggable = true;
};

// The skinned frame every window of the program shares: borderless, a tiled
// title bar with the title, corner, side and bottom images around the
// window's own content panel (from its .ui layout), the rounded outline, the
// close and minimise image buttons and the title-bar drag through an
// XA_ResizeRect. A modal show (exec) returns a ModalResult; closing the
// window, its close image button or Escape give ResultCancel.
//
// Layout widgets may carry a dynamic "anchors" property ("left,top,right,
// bottom" in any combination, default "left,top"): they then keep their
// distances to those edges of their parent when it is resized.
class TSkinnedForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSkinnedForm(QWidget* owner);
  ~TSkinnedForm() override;

  // Builds the frame around the content created by setupUi; call once,
  // right after it. Applies the rounded outline for the current size.
  void SetupFrame(const FrameOptions& options);
  void SetTitle(const QString& title);
  // Resizes the window and lays out the frame, the anchored controls and
  // the rounded outline for the new size at once, shown or not.
  void ResizeFrame(int width, int height);

  // Title-bar drag, wired to every drag source of the window. `shift` is
  // the set of mouse buttons held at the event; x and y are relative to
  // the control that got it.
  void ImagePanelTitleBarMouseDown(QWidget* sender, Qt::MouseButton button, Qt::MouseButtons shift,
                                   int x, int y);
  void ImagePanelTitleBarMouseMove(QWidget* sender, Qt::MouseButtons shift, int x, int y);
  void ImagePanelTitleBarMouseUp(QWidget* sender, Qt::MouseButton button, Qt::MouseButtons shift,
                                 int x, int y);
  // Makes `source` start a drag when pressed (the title bar and title
  // already are).
  void AddDragSource(QWidget* source);

  // The rounded outline: corner ellipses 15 pixels wide and high over the
  // whole window.
  void ApplyRoundedRegion(int width, int height);

  bool Dragging() const { return dragging_; }
  XA_ResizeRect* ResizeRect() const { return resizeRect_.get(); }

  void reject() override;  // ResultCancel
  void accept() override;  // ResultOk

  // Hides this window while `run` shows another one, then shows it again.
  // A modal show of this window goes on meanwhile (QDialog::hide would end
  // it).
  void HideWhile(const std::function<void()>& run);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  // The close image button: the framework's normal close.
  virtual void CloseButtonClick();
  // Places the frame parts for the current size.
  void LayoutFrame();

  TTitleLabel* titleLabel_ = nullptr;

 private:
  struct Anchored {
    QPointer<QWidget> widget;
    QRect design;
    QSize parentDesign;
    bool left, top, right, bottom;
  };
  void CollectAnchors();
  void ApplyAnchors(QWidget* parent);

  FrameOptions options_;
  bool dragging_ = false;
  std::unique_ptr<XA_ResizeRect> resizeRect_;
  TImagePanel* titleBar_ = nullptr;
  TImagePanel* leftSide_ = nullptr;
  TImagePanel* rightSide_ = nullptr;
  TImagePanel* bottomSide_ = nullptr;
  QLabel* corners_[4] = {};
  TImageButton* closeButton_ = nullptr;
  TImageButton* minimizeButton_ = nullptr;
  std::vector<Anchored> anchored_;
  std::vector<QPointer<QWidget>> dragSources_;
  bool placed_ = false;
};
