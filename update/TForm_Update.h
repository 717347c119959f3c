#pragma once
#include <QTimer>
#include <memory>
#include <string>

#include "platform/MessageTarget.h"
#include "settings/CSettings.h"
#include "update/TclDownLoader.h"
#include "widgets/SkinnedForm.h"

class QTemporaryDir;

namespace Ui {
class TForm_Update;
}

// The texts of the window's three outcome boxes.
inline constexpr char kUpdateAvailableText[] =
    "There is a new version of Nullifex available for download.  Would you like to visit our "
    "website now to download it?";
inline constexpr char kNoUpdateText[] = "You have the latest version of Nullifex.";
inline constexpr char kUpdateProblemText[] =
    "There was a problem checking for an update.  Make sure that you have an active internet "
    "connection and try again.";

// Posted by the update window to itself once it is on the screen: start
// the download.
inline constexpr uint32_t WM_UPDATE_START_DOWNLOAD = platform::WM_USER + 1;

// The check for a newer build: fetches the maker's version file, compares
// its first bytes with the installed build stamp and offers the update page
// when the maker's stamp is greater. Shown modally by the main window (the
// weekly question) or the Tools window; it closes itself when it is done.
class TForm_Update : public TSkinnedForm {
  Q_OBJECT
 public:
  static constexpr int kWaitMs = 30000;          // Timer1
  static constexpr int kDownloadTimeOut = 35000;  // clDownLoader1

  explicit TForm_Update(QWidget* owner);
  ~TForm_Update() override;

  // Tests fetch from a server of their own and wait less; an empty address
  // and 0 restore the program's own. Never set by the program itself.
  static void SetVersionFileUrlForTests(const std::string& url);
  static void SetWaitForTests(int ms);

  // Whether the last comparison found a newer build.
  bool UpdateAvailable() const { return updateAvailable_; }
  // Where the version file is being stored while the check runs (empty
  // before the download starts).
  QString LocalCopyPath() const;
  Ui::TForm_Update* ui() const { return ui_.get(); }

  void Button_CancelClick();
  void Timer1Timer();
  void clDownLoader1StatusChanged(QObject* sender, TclProcessStatus status);
  // Escape is Cancel.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void StartDownload();
  void ShowProblem();

  std::unique_ptr<Ui::TForm_Update> ui_;
  CSettings settings_;
  // A folder of the window's own for the version file, removed with the
  // window (after the download component, which may still be writing).
  std::unique_ptr<QTemporaryDir> folder_;
  TclDownLoader clDownLoader1_;
  QTimer Timer1_;
  bool updateAvailable_ = false;
  bool opened_ = false;
  // Set from opening until the first of success, time-out or Cancel: later
  // events of the others are ignored, so only one outcome is ever shown.
  bool waiting_ = false;
};
