#include "support/TempDir.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <set>

namespace {

// Every file below root, as paths relative to it.
std::set<std::string> FilesBelow(const std::string& root) {
    std::set<std::string> files;
    const QDir base(QString::fromStdString(root));
    QDirIterator it(base.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.insert(base.relativeFilePath(it.next()).toStdString());
    return files;
}

std::string ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// What a desktop sees: the programs, the help pages, the desktop entry, the icons, the
// metainfo, the man page and the package's documents, and nothing else (no tests, no benchmarks, no
// libraries).
TEST(InstallTree, InstallsWhatADesktopNeedsAndNothingElse) {
    testsupport::TempDir prefix;
    QProcess install;
    install.start(CMAKE_COMMAND, {"--install", MORVANDLE_BUILD_DIR, "--prefix",
                                  QString::fromStdString(prefix.Path())});
    ASSERT_TRUE(install.waitForFinished(60000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();

    std::set<std::string> expected = {
        "bin/morvandle",
        "bin/morvandle-check",
        "share/applications/morvandle.desktop",
        "share/icons/hicolor/scalable/apps/morvandle.svg",
        "share/icons/hicolor/48x48/apps/morvandle.png",
        "share/icons/hicolor/256x256/apps/morvandle.png",
        "share/metainfo/org.morvandle.Morvandle.metainfo.xml",
        "share/man/man1/morvandle-check.1.gz",
        "share/man/man1/morvandle.1.gz",
        "share/doc/morvandle/copyright",
        "share/doc/morvandle/changelog.gz",
    };
    for (const QString& page : QDir(MORVANDLE_SOURCE_DIR "/src/app/help").entryList(QDir::Files))
        expected.insert("share/morvandle/help/" + page.toStdString());
    EXPECT_EQ(FilesBelow(prefix.Path()), expected);

    for (const char* program : {"bin/morvandle", "bin/morvandle-check"})
        EXPECT_TRUE(QFileInfo(QString::fromStdString(prefix.File(program))).isExecutable())
            << program;
    const std::string entry = ReadFile(prefix.File("share/applications/morvandle.desktop"));
    for (const char* line : {"Name=Morvandle\n", "Exec=morvandle\n", "Icon=morvandle\n",
                             "Categories=Network;Email;\n", "Type=Application\n"})
        EXPECT_NE(entry.find(line), std::string::npos) << line;
}

} // namespace
