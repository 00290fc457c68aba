#pragma once

#include "platform/Dialogs.h"

#include <QWidget>
#include <string>

class QTextBrowser;

// The help pages are HTML files in the folder "help" beside the program (for an installed
// program, in the install's share/morvandle); a viewer window of our own shows them, with
// links between the pages.

std::string HelpPagesDir();
// The page of a help request: the contents page for a contents request and for a context
// number that has no page of its own.
std::string HelpPageFor(const platform::HelpRequest& request);

// The help handler: opens the page in the viewer (one viewer for the whole program, brought
// to the front; over a modal dialog, one of the dialog's windows), or says in a message box
// that the page is missing.
void ShowHelpPage(const platform::HelpRequest& request);
// The viewer if it is open, else null; CloseHelpViewer closes it (the program's end does).
class THelpViewer;
THelpViewer* OpenHelpViewer();
void CloseHelpViewer();

class THelpViewer : public QWidget {
  public:
    THelpViewer();
    void Open(const std::string& path);
    QTextBrowser& Browser() { return *browser_; }

  private:
    QTextBrowser* browser_;
};
