#include "TestRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

// Fails a test that leaves anything in the current folder, names what it left and removes
// it, so the next test starts clean. Every test program runs in an empty folder of its own:
// a file written through a relative path (a backup name without a folder, say) would
// otherwise land wherever the program was started, often the checkout.
class StrayFileCheck : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override {
        QDir here(QDir::currentPath());
        const QStringList strays =
            here.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        if (strays.isEmpty()) return;
        // Listeners hear of a test's end before the result printer does: this failure is
        // reported with the test.
        ADD_FAILURE() << "left in the current folder: " << strays.join(", ").toStdString();
        for (const QString& name : strays) {
            const QFileInfo entry(here.filePath(name));
            if (entry.isDir() && !entry.isSymLink())
                QDir(entry.filePath()).removeRecursively();
            else
                here.remove(name);
        }
    }
};

} // namespace

int testsupport::RunAllTests(int& argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir workDir(QDir::tempPath() + "/morvandle-cwd-XXXXXX");
    if (!workDir.isValid() || !QDir::setCurrent(workDir.path())) {
        std::fprintf(stderr, "cannot set up an empty current folder under %s\n",
                     qPrintable(QDir::tempPath()));
        return 1;
    }
    ::testing::UnitTest::GetInstance()->listeners().Append(new StrayFileCheck);
    const int result = RUN_ALL_TESTS();
    QDir::setCurrent(QDir::tempPath()); // step out, so that the folder can go
    return result;
}
