#include "support/TestRunner.h"

#include <QApplication>

// The main of the test programs that test windows: they need a QApplication. Linked as an
// object file, so it wins over the QCoreApplication main of the support library.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false); // as the desktop program has it
    return testsupport::RunAllTests(argc, argv);
}
