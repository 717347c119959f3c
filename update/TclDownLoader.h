#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryFile;

// What a download came to, as OnStatusChanged reports it.
enum TclProcessStatus : int {
  psUnknown = 0,     // nothing started yet
  psSuccess = 1,     // the whole resource is stored in the local file
  psFailed = 2,      // no answer: no connection, refused, no such host, time-out
  psErrors = 3,      // an answer that is not the resource (an error page, a
                     // redirect refused), or the local file could not be written
  psProcess = 4,     // running
  psTerminated = 5,  // abandoned by Stop
};

// Fetches one HTTP or HTTPS resource into a local file. The transfer itself
// runs in the network stack's own thread; the status event is raised on the
// thread that owns this object (the GUI thread).
//
// The data goes into a private temporary file beside the target (created
// exclusively, mode 0600) and becomes LocalFolder/LocalFile only once the
// whole body has arrived with a 200 answer, so a failed, refused or
// abandoned transfer leaves no file behind. Redirects are followed up to 5
// times, never from https to http. The desktop's proxy settings
// (http_proxy, https_proxy, no_proxy) are honoured.
class TclDownLoader : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxRedirects = 5;
  static constexpr int kDefaultTimeOut = 60000;

  explicit TclDownLoader(QObject* parent = nullptr);
  // Abandons a running transfer (no status is raised) and removes its data.
  ~TclDownLoader() override;

  QString LocalFolder() const { return localFolder_; }
  void SetLocalFolder(const QString& folder) { localFolder_ = folder; }
  QString LocalFile() const { return localFile_; }
  void SetLocalFile(const QString& file) { localFile_ = file; }
  QString URL() const { return url_; }
  void SetURL(const QString& url) { url_ = url; }
  // Milliseconds without any data arriving before the transfer is given up
  // (psFailed).
  int TimeOut() const { return timeOut_; }
  void SetTimeOut(int ms) { timeOut_ = ms; }

  TclProcessStatus Status() const { return status_; }

  // Starts fetching URL into LocalFolder + LocalFile, abandoning a transfer
  // still running. Raises psProcess before it returns, unless the request
  // is refused at once (psErrors). Asynchronous, it returns at once;
  // otherwise it runs the event loop until the transfer has ended.
  void Start(bool async = true);
  // Abandons a running transfer: psTerminated, and no file is left.
  void Stop();

 signals:
  void OnStatusChanged(QObject* sender, TclProcessStatus status);

 private:
  void ReplyReadyRead();
  void ReplyFinished();
  void TimerExpired();
  void Abandon();
  void Finish(TclProcessStatus status);
  QString TargetPath() const;

  QString localFolder_, localFile_, url_;
  int timeOut_ = kDefaultTimeOut;
  TclProcessStatus status_ = psUnknown;
  std::unique_ptr<QNetworkAccessManager> manager_;
  QNetworkReply* reply_ = nullptr;  // owned while running; freed with deleteLater
  std::unique_ptr<QTemporaryFile> data_;
  QTimer timer_;
  bool timedOut_ = false;
  bool writeFailed_ = false;
};
