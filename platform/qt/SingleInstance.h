#pragma once
#include <QLocalServer>
#include <QObject>
#include <memory>
#include <string>

namespace platform {

// One running instance per user session. The named mutex of the program
// becomes a lock file of that name in $XDG_RUNTIME_DIR, held with flock for
// the life of the process (the kernel drops it when the process ends, so a
// crash never leaves the program locked out). The first instance also
// listens on a local socket of the same name; a second start connects to it
// to have the running main window raised.
class SingleInstance : public QObject {
  Q_OBJECT
 public:
  enum class Outcome {
    First,           // the lock is ours
    AlreadyRunning,  // another process holds the lock
    Failed,          // the lock file cannot be created
  };

  explicit SingleInstance(std::string mutexName, QObject* parent = nullptr);
  ~SingleInstance() override;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes the lock; needs no application object, so a failure can end the
  // process before any window exists.
  [[nodiscard]] Outcome Acquire();
  // Starts the local server for later starts (needs the application
  // object). Without it the program still runs; a second start then cannot
  // raise it. Returns whether it listens.
  bool StartServer();
  // For a second start: asks the running instance to raise its main window.
  // False when it could not be reached (it may still be starting).
  bool AskRunningToRaise(int timeoutMs = 2000);

  std::string LockPath() const;
  std::string ServerPath() const;

 signals:
  void raiseRequested();

 private:
  void OnNewConnection();

  std::string name_;
  int fd_ = -1;
  std::unique_ptr<QLocalServer> server_;  // made once the application exists
};

}  // namespace platform
