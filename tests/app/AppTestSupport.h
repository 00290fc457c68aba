#pragma once

#include "app/formMain.h"
#include "config/dataConfig.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace apptest {

// A program folder and a settings file of the test's own, the settings store made from
// them, and the main window on top. Message boxes are answered with `answer` and recorded.
struct WindowFixture : ::testing::Test {
    testsupport::TempDir dir;
    std::unique_ptr<TfrmMain> window;
    std::vector<platform::MessageBoxRequest> boxes;
    int answer = platform::mrNo;
    platform::ScopedMessageBoxHandler boxHandler{[this](const platform::MessageBoxRequest& r) {
        boxes.push_back(r);
        return answer;
    }};

    std::string IniPath() const { return dir.File("Morvandle.ini"); }
    std::string LogPath() const { return dir.File("spammers.log"); }

    // Settings written before the store reads them; empty for none.
    void MakeWindow(const std::string& settings = "") {
        if (!settings.empty()) testsupport::WriteFile(IniPath(), "[Config]\r\n" + settings);
        CreateConfigData();
        window = std::make_unique<TfrmMain>();
    }

    void SetUp() override {
        platform::SetProgramDirOverride(dir.Path());
        platform::SetSettingsFileOverride(IniPath());
    }
    void TearDown() override {
        window.reset();
        DestroyConfigData();
        platform::SetProgramDirOverride("");
        platform::SetSettingsFileOverride("");
    }

    template <class T = QWidget> T* Find(const char* name) const {
        T* child = window->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QString Text(const char* labelName) const { return Find<QLabel>(labelName)->text(); }
    void Trigger(const char* actionName) const { Find<QAction>(actionName)->trigger(); }
    void Click(const char* buttonName) const { Find<QPushButton>(buttonName)->click(); }

    // The log's lines without their time stamps.
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        const std::string text = testsupport::ReadFile(LogPath());
        for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            const std::string line = text.substr(at, end - at);
            static const std::regex stamp(R"(^\d\d \S+ \d{4} \d\d:\d\d:\d\d )");
            lines.push_back(std::regex_replace(line, stamp, ""));
        }
        return lines;
    }
};

// Runs `action` on the next modal window as soon as it is up (a modal box blocks the test
// until something closes it).
inline void OnNextModal(std::function<void(QWidget*)> action) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            action(modal);
        }
    });
    poll->start(10);
}

} // namespace apptest
