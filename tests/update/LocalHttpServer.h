#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the download tests: each path
// gets a fixed answer. It runs in the test's own event loop, so it only
// answers while the test pumps events (as the windows' modal loops do).
#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

namespace testhttp {

struct Answer {
  int status = 200;
  QByteArray body{};
  QByteArray location{};  // a Location header (redirects)
  // Never answers at all (a server that hangs).
  bool silent = false;
  // Sends the headers (announcing the whole body) and only the first
  // `stallAfter` bytes of the body, then nothing more: a transfer that
  // hangs half way. -1: the whole body.
  qsizetype stallAfter = -1;
  // Answers only after this long (a slow server).
  int delayMs = 0;
};

class LocalHttpServer : public QObject {
 public:
  // With `tls`, an HTTPS server presenting that configuration's
  // certificate.
  explicit LocalHttpServer(std::optional<QSslConfiguration> tls = std::nullopt) : tls_(tls.has_value()) {
    if (tls) {
      auto secure = std::make_unique<QSslServer>();
      secure->setSslConfiguration(*tls);
      server_ = std::move(secure);
    } else {
      server_ = std::make_unique<QTcpServer>();
    }
    listening_ = server_->listen(QHostAddress(QHostAddress::LocalHost), 0);
    QObject::connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, [this] { Accept(); });
  }
  bool Listening() const { return listening_; }
  QString Url(const QString& path) const {
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(tls_ ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(server_->serverPort())
        .arg(path);
  }
  void Serve(const QString& path, Answer answer) { answers_[path] = std::move(answer); }
  // Paths asked for, in order.
  const std::vector<QString>& Requests() const { return requests_; }

  // An address where nothing listens: connecting is refused.
  static QString RefusingUrl(const QString& path) {
    QTcpServer probe;
    if (!probe.listen(QHostAddress(QHostAddress::LocalHost), 0)) return {};
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
  }

 private:
  void Accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
      socket->setParent(this);
      QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  }

  void Read(QTcpSocket* socket) {
    const QByteArray buffer = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", buffer);
    if (!buffer.contains("\r\n\r\n")) return;
    socket->setProperty("request", QByteArray());
    const QList<QByteArray> words = buffer.left(buffer.indexOf("\r\n")).split(' ');
    const QString path = words.size() >= 2 ? QString::fromLatin1(words[1]) : QString();
    requests_.push_back(path);
    const auto it = answers_.find(path);
    Answer answer = it != answers_.end() ? it.value() : Answer{.status = 404, .body = "<html>Not Found</html>"};
    if (answer.silent) return;
    if (answer.delayMs > 0) {
      QTimer::singleShot(answer.delayMs, socket, [socket, answer] { Send(*socket, answer); });
    } else {
      Send(*socket, answer);
    }
  }

  static void Send(QTcpSocket& socket, const Answer& answer) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + " " +
                      Reason(answer.status) + "\r\nContent-Length: " +
                      QByteArray::number(answer.body.size()) + "\r\n";
    if (!answer.location.isEmpty()) head += "Location: " + answer.location + "\r\n";
    if (answer.stallAfter < 0) head += "Connection: close\r\n";
    head += "\r\n";
    socket.write(head);
    if (answer.stallAfter >= 0) {
      socket.write(answer.body.left(answer.stallAfter));
      return;
    }
    socket.write(answer.body);
    socket.disconnectFromHost();
  }

  static QByteArray Reason(int status) {
    switch (status) {
      case 200: return "OK";
      case 301: return "Moved Permanently";
      case 302: return "Found";
      case 404: return "Not Found";
      default: return "Status";
    }
  }

  std::unique_ptr<QTcpServer> server_;
  bool tls_ = false;
  bool listening_ = false;
  QMap<QString, Answer> answers_;
  std::vector<QString> requests_;
};

// Loopback addresses must not go to a proxy named in the environment.
inline void NoProxyFromEnvironment() {
  for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                           "ALL_PROXY"}) {
    qunsetenv(name);
  }
}

}  // namespace testhttp
