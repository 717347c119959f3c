#include "widgets/BrandingLink.h"

#include <QLabel>
#include <QMouseEvent>

#include "platform/qt/Ansi.h"
#include "platform/qt/ShellOpen.h"
#include "settings/CSettings.h"

void SetupBrandingLink(QLabel* label) {
  label->setText(platform::FromAnsi(GetBrandingText(kBrandingSiteName)));
  label->setCursor(Qt::PointingHandCursor);
  label->setStyleSheet(QStringLiteral("color: white;"));
}

void HoverBrandingLink(QLabel* label, bool hovered) {
  QFont f = label->font();
  f.setUnderline(hovered);
  if (!hovered) {
    f.setBold(false);
    f.setItalic(false);
    f.setStrikeOut(false);
  }
  label->setFont(f);
}

void OpenBrandingLink(const QLabel* label) { (void)platform::ShellOpen(platform::ToAnsi(label->text())); }

bool RouteBrandingEvent(const QLabel* label, const QEvent* event, const std::function<void()>& enter,
                        const std::function<void()>& leave, const std::function<void()>& click) {
  switch (event->type()) {
    case QEvent::Enter: enter(); return false;
    case QEvent::Leave: leave(); return false;
    case QEvent::MouseButtonRelease: {
      const auto* mouse = static_cast<const QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) click();
      return true;
    }
    default: return false;
  }
}
