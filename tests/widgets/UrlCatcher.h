#pragma once
// Takes the addresses handed to the desktop (xdg-open) while it lives,
// instead of opening them. A test target that uses it lists this header
// among its sources, so it goes through moc.
#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <vector>

namespace guitest {

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher() {
    for (const char* scheme : {"http", "https", "file"}) {
      QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
    }
  }
  ~UrlCatcher() override {
    for (const char* scheme : {"http", "https", "file"}) {
      QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
  }
  std::vector<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls.push_back(url); }
};

}  // namespace guitest
