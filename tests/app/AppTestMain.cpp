#include "support/TestRunner.h"

#include <QApplication>

// The window tests need widgets: a QApplication instead of the usual core application.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false); // as the program has it
    return testsupport::RunAllTestsInEmptyFolder(argc, argv);
}
