#pragma once
#include <functional>

class QEvent;
class QLabel;

// The maker's web site under a window (branding text 1): white text with a
// hand cursor, underlined while the mouse is over it, opened with the
// shell's "open" verb when clicked. Each window keeps its own named
// handlers and routes the label's events to them; these do the work.
void SetupBrandingLink(QLabel* label);
// Underlined while hovered; leaving also drops bold, italic and strike-out.
void HoverBrandingLink(QLabel* label, bool hovered);
// A link that cannot be opened does nothing.
void OpenBrandingLink(const QLabel* label);
// Routes one of the label's events to a window's named handlers: entering,
// leaving, and a left-button release inside the label as the click. True
// for a button release, which the label keeps.
bool RouteBrandingEvent(const QLabel* label, const QEvent* event, const std::function<void()>& enter,
                        const std::function<void()>& leave, const std::function<void()>& click);
