#pragma once
#include <QWidget>

namespace platform {
class SingleInstance;
}

// The bindings the GUI program makes at start-up: the widget kit's
// services and the don't-show-again window.
void BindGuiServices();

// The windows behind the main window's buttons (wipe, verify, the sector
// viewer, Tools) and the update window behind the weekly question.
void RegisterFeatureWindows();

// A later start of the program asks `instance` to raise the running one:
// the main window comes to the front, or, while a feature window hides it,
// that window.
void ConnectRaiseRequests(platform::SingleInstance& instance, QWidget& mainWindow);
