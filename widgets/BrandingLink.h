#pragma once
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
// A left-button release inside the label: the click that opens it.
bool IsBrandingClick(const QLabel* label, const QEvent* event);
