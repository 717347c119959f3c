#include "platform/qt/ShellOpen.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include "platform/qt/Ansi.h"

namespace platform {

QUrl ShellTargetUrl(const std::string& target) {
  const QString text = FromAnsi(target).trimmed();
  if (text.isEmpty()) return {};
  const QFileInfo file(QDir::current(), text);
  if (file.exists()) return QUrl::fromLocalFile(file.absoluteFilePath());
  const QUrl url(text, QUrl::StrictMode);
  if (url.isValid() && !url.scheme().isEmpty() && url.scheme().size() > 1) return url;
  return QUrl::fromUserInput(text);
}

bool ShellOpen(const std::string& target) {
  const QUrl url = ShellTargetUrl(target);
  if (!url.isValid() || url.isEmpty()) return false;
  return QDesktopServices::openUrl(url);
}

}  // namespace platform
