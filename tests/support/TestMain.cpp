#include "TestRunner.h"

#include <QCoreApplication>

// Every test program runs on a real Qt event loop.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return testsupport::RunAllTests(argc, argv);
}
