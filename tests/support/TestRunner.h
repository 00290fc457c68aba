#pragma once

namespace testsupport {

// Runs every test in an empty current folder of its own and fails a test that leaves
// anything there. The caller has made the application object the tests need.
int RunAllTestsInEmptyFolder(int& argc, char** argv);

} // namespace testsupport
