// The Nullifex desktop program: one instance per user session, the main
// window, and the message loop until the main window closes.
#include <QApplication>
#include <QIcon>
#include <exception>

#include "app/Application.h"
#include "widgets/DriveList.h"
#include "app/TMainForm.h"
#include "widgets/TXAMessageBox.h"
#include "platform/qt/SingleInstance.h"

namespace {
constexpr char kMutexName[] = "OV_NULLIFEX_GLOBAL_MUTEX_0610_1810";
}

int main(int argc, char** argv) {
  platform::SingleInstance instance(kMutexName);
  switch (instance.Acquire()) {
    case platform::SingleInstance::Outcome::Failed:
      return -1;  // no lock file: nothing is shown
    case platform::SingleInstance::Outcome::AlreadyRunning: {
      // No display is needed to ask the running instance to come forward,
      // and whether it answered does not change the exit code.
      QCoreApplication core(argc, argv);
      (void)instance.AskRunningToRaise();
      return 0;
    }
    case platform::SingleInstance::Outcome::First:
      break;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Nullifex"));
  QApplication::setDesktopFileName(QStringLiteral("nullifex"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/skin/nullifex_128.png")));
  // The main window hides while a feature window is up; closing that window
  // must not end the program. Only the main window's close does.
  QApplication::setQuitOnLastWindowClosed(false);
  BindGuiServices();
  RegisterFeatureWindows();
  SetDriveListSource(SystemDriveListSource());

  TMainForm mainForm;
  QObject::connect(&mainForm, &QDialog::finished, &app, &QCoreApplication::quit);
  ConnectRaiseRequests(instance, mainForm);
  (void)instance.StartServer();
  mainForm.show();

  try {
    (void)app.exec();
  } catch (const std::exception& e) {
    SkinnedMessageBox(nullptr, e.what(), "Nullifex", ButtonsOk, IconError);
  } catch (...) {
    SkinnedMessageBox(nullptr, "", "Nullifex", ButtonsOk, IconError);
  }
  return 0;
}
