#include "TestRunner.h"

#include <QCoreApplication>

// Every test program runs on a real Qt event loop. A program whose tests need widgets has a
// main of its own that makes a QApplication; the linker then leaves this one out.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return testsupport::RunAllTestsInEmptyFolder(argc, argv);
}
