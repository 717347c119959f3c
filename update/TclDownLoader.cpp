#include "update/TclDownLoader.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QUrl>
#include <cstdio>

namespace {

bool IsRunning(TclProcessStatus status) { return status == psProcess; }

// A transfer that ended without an HTTP answer (nothing to connect to, no
// such host, cut off, timed out) failed; one whose answer cannot be used is
// in error.
TclProcessStatus StatusOfUnusableAnswer(QNetworkReply& reply) {
  if (reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) return psErrors;
  switch (reply.error()) {
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
      return psErrors;
    default:
      return reply.error() >= QNetworkReply::ContentAccessDenied ? psErrors : psFailed;
  }
}

}  // namespace

TclDownLoader::TclDownLoader(QObject* parent)
    : QObject(parent), manager_(std::make_unique<QNetworkAccessManager>()) {
  // Proxies as the desktop sets them, as in every other desktop program.
  QNetworkProxyFactory::setUseSystemConfiguration(true);
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &TclDownLoader::TimerExpired);
}

TclDownLoader::~TclDownLoader() { Abandon(); }

QString TclDownLoader::TargetPath() const {
  QString file = localFile_;
  if (file.isEmpty()) file = QUrl(url_).fileName();
  return QDir(localFolder_.isEmpty() ? QStringLiteral(".") : localFolder_).filePath(file);
}

void TclDownLoader::Start(bool async) {
  if (IsRunning(status_)) Stop();
  timedOut_ = false;
  writeFailed_ = false;

  const QUrl url(url_, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  const QString target = TargetPath();
  if (!url.isValid() || url.host().isEmpty() ||
      (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
      QFileInfo(target).fileName().isEmpty()) {
    Finish(psErrors);
    return;
  }
  // Created exclusively beside the target, readable by the user alone.
  data_ = std::make_unique<QTemporaryFile>(target + QStringLiteral(".XXXXXX.part"));
  if (!data_->open()) {
    data_.reset();
    Finish(psErrors);
    return;
  }

  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setMaximumRedirectsAllowed(kMaxRedirects);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                       QNetworkRequest::AlwaysNetwork);
  reply_ = manager_->get(request);
  connect(reply_, &QNetworkReply::readyRead, this, &TclDownLoader::ReplyReadyRead);
  connect(reply_, &QNetworkReply::finished, this, &TclDownLoader::ReplyFinished);
  // Any sign of life, also a redirect being followed, restarts the time-out.
  connect(reply_, &QNetworkReply::metaDataChanged, this, [this] { timer_.start(); });
  connect(reply_, &QNetworkReply::redirected, this, [this] { timer_.start(); });
  timer_.start(timeOut_);
  status_ = psProcess;
  emit OnStatusChanged(this, psProcess);

  if (!async && IsRunning(status_)) {
    QEventLoop loop;
    connect(this, &TclDownLoader::OnStatusChanged, &loop, [&loop](QObject*, TclProcessStatus s) {
      if (!IsRunning(s)) loop.quit();
    });
    loop.exec();
  }
}

void TclDownLoader::ReplyReadyRead() {
  if (!reply_) return;
  timer_.start();
  const QByteArray bytes = reply_->readAll();
  // Only a 200 answer carries the resource: the body of an error page is
  // read and dropped.
  if (reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200 || writeFailed_) {
    return;
  }
  if (data_->write(bytes) != bytes.size()) {
    writeFailed_ = true;
    reply_->abort();  // finished follows
  }
}

void TclDownLoader::ReplyFinished() {
  QNetworkReply* reply = reply_;
  if (!reply) return;
  reply_ = nullptr;
  reply->deleteLater();
  timer_.stop();

  if (timedOut_) {
    Finish(psFailed);
    return;
  }
  if (writeFailed_) {
    Finish(psErrors);
    return;
  }
  const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (reply->error() != QNetworkReply::NoError || code != 200) {
    Finish(reply->error() == QNetworkReply::NoError ? psErrors : StatusOfUnusableAnswer(*reply));
    return;
  }
  const QByteArray rest = reply->readAll();
  if (data_->write(rest) != rest.size() || !data_->flush()) {
    Finish(psErrors);
    return;
  }
  data_->close();
  // rename(2) puts the complete file in place at once, replacing an older
  // copy; the temporary name then no longer exists.
  const QByteArray from = QFile::encodeName(data_->fileName());
  const QByteArray to = QFile::encodeName(TargetPath());
  if (std::rename(from.constData(), to.constData()) != 0) {
    Finish(psErrors);
    return;
  }
  data_->setAutoRemove(false);
  data_.reset();
  Finish(psSuccess);
}

void TclDownLoader::TimerExpired() {
  if (!reply_) return;
  timedOut_ = true;
  reply_->abort();  // finished follows: psFailed
}

void TclDownLoader::Abandon() {
  timer_.stop();
  if (QNetworkReply* reply = reply_) {
    reply_ = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
  }
  data_.reset();  // removes the partial data
}

void TclDownLoader::Stop() {
  if (!IsRunning(status_)) return;
  Abandon();
  Finish(psTerminated);
}

void TclDownLoader::Finish(TclProcessStatus status) {
  data_.reset();  // whatever is left unfinished is removed
  status_ = status;
  emit OnStatusChanged(this, status);
}
