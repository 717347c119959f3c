#pragma once
#include <QDialog>
#include <functional>
#include <memory>

#include "widgets/SkinnedForm.h"
#include "platform/MessageTarget.h"

namespace Ui {
class TMainForm;
}

// Posted by the main window to itself after its first show.
inline constexpr uint32_t WM_ASK_UPDATE_CHECK = platform::WM_USER + 1;

// The hub of the program: wipe, verify and view sectors (the main window
// hides while they are up), tools and help (they stand over it), the
// branding link, and once per process the offer to check for updates.
class TMainForm : public TSkinnedForm {
  Q_OBJECT
 public:
  // The windows the main window opens. Each feature registers the factory
  // of its window once it exists; a feature without one keeps its button
  // disabled.
  enum class Feature { WipeMedia, VerifyMedia, ViewSectors, Tools, Update };
  using WindowFactory = std::function<std::unique_ptr<QDialog>(QWidget* owner)>;
  static void RegisterFeatureWindow(Feature feature, WindowFactory factory);
  static bool HasFeatureWindow(Feature feature);

  TMainForm();
  ~TMainForm() override;

  // The process-wide first-show flag: the update question comes once per
  // process although the main window is hidden and shown again around
  // every feature window.
  static bool FirstShow();
  static void ResetFirstShowForTests(bool value);

  Ui::TMainForm* ui() const { return ui_.get(); }

  void Button_WipeMediaClick();
  void Button_VerifyMediaClick();
  void Button_ViewSectorsClick();
  void KTransToolsButtonMouseRelease();
  void KTransHelpButtonMouseRelease();
  void ButtonOKMouseRelease();
  void Label_BrandingClick();
  void Label_BrandingMouseEnter();
  void Label_BrandingMouseLeave();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void AskUpdateCheck();
  // Opens a feature window modally; `hideMain` for the three main features.
  void RunFeature(Feature feature, bool hideMain);

  std::unique_ptr<Ui::TMainForm> ui_;
};
