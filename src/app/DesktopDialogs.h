#pragma once

#include "platform/Dialogs.h"

#include <QString>

// The desktop program's answers to the replaceable boxes of platform/Dialogs.h: real message
// boxes, help pages in a viewer window, and uncaught errors shown in an error box.

// The application's title, the caption of every message box.
inline constexpr const char* kApplicationTitle = "Morvandle - Kill Spam Before it Gets You!";

// Shows the request in a QMessageBox and returns the answer (mrCancel for a box closed without
// a button). A help button shows the box's help topic and leaves the box open.
int ShowMessageBox(const platform::MessageBoxRequest& request);

// Installs ShowMessageBox, the help viewer (ShowHelpPage) and an error reporter that shows
// the message in an error box.
void InstallDesktopHandlers();
