#pragma once
#include <QWidget>

// The services every window relies on, bound once per process by the
// program and by the window tests: the main-thread dispatcher, questions
// through the skinned message box, and the body font.
void BindWidgetServices();

// The window a question asked from anywhere is centred on: the active modal
// window, else the active window, else none (centred on the screen).
QWidget* CurrentOwnerWindow();
