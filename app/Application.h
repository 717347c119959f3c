#pragma once
#include <QWidget>

namespace platform {
class SingleInstance;
}

// The bindings the GUI program makes at start-up, shared with the window
// tests so they run the windows as the program does: the main-thread
// dispatcher, questions through the skinned message box, the
// don't-show-again window and the body font.
void BindGuiServices();

// The window a question asked from anywhere is centred on: the active modal
// window, else the active window, else none (centred on the screen).
QWidget* CurrentOwnerWindow();

// A later start of the program asks `instance` to raise the running one:
// the main window comes to the front, or, while a feature window hides it,
// that window.
void ConnectRaiseRequests(platform::SingleInstance& instance, QWidget& mainWindow);
