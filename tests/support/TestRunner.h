#pragma once

namespace testsupport {

// Runs every test of the program in an empty current folder of its own and fails a test
// that leaves anything there. The caller has created the Qt application object: a
// QCoreApplication for most test programs, a QApplication for those that test windows.
int RunAllTests(int& argc, char** argv);

} // namespace testsupport
