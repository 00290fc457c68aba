#pragma once

#include "ConfigFixture.h"
#include "config/formWizard.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QTabWidget>

#include <deque>
#include <memory>
#include <string>
#include <vector>

// A preferences dialog shown (not modally, so the test keeps running) over a store read from
// the files the test wrote. Every message box is recorded and answered from `answers`
// (OK when none is left); help requests and reported errors are recorded.
class WizardFixture : public ConfigFixture {
  public:
    void SetUp() override {
        ConfigFixture::SetUp();
        previousReporter_ = platform::SetErrorReporter(
            [this](const std::string& message) { errors.push_back(message); });
    }
    void TearDown() override {
        dialog.reset();
        platform::SetErrorReporter(previousReporter_);
        ConfigFixture::TearDown();
    }

    // Reads the settings and lists the test has written, then shows the dialog.
    void Open() {
        CreateConfigData();
        dialog = std::make_unique<TfrmWizard>();
        dialog->show();
    }

    template <class Widget> Widget* Find(const char* name) {
        auto* widget = dialog->findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << "no control " << name;
        return widget;
    }

    // The entries of a list box, top to bottom, as UTF-8.
    std::vector<std::string> Entries(const char* list) {
        QAbstractItemModel* model = Find<QListView>(list)->model();
        std::vector<std::string> entries;
        for (int row = 0; row < model->rowCount(); ++row)
            entries.push_back(model->index(row, 0).data().toString().toUtf8().toStdString());
        return entries;
    }

    // Selects a row as a click would; -1 selects nothing.
    void Select(const char* list, int row) {
        QListView* view = Find<QListView>(list);
        if (row < 0)
            view->selectionModel()->clearSelection();
        else
            view->selectionModel()->select(view->model()->index(row, 0),
                                           QItemSelectionModel::ClearAndSelect);
    }

    void SetText(const char* edit, const std::string& text) {
        Find<QLineEdit>(edit)->setText(QString::fromUtf8(text.data(), qsizetype(text.size())));
    }
    std::string Text(const char* edit) {
        return Find<QLineEdit>(edit)->text().toUtf8().toStdString();
    }
    void Click(const char* button) { Find<QAbstractButton>(button)->click(); }
    // A key press delivered to the focused control (or the dialog), as the keyboard would.
    void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog.get();
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(target, &press);
    }

    int Page() { return Find<QTabWidget>("pgctrlPreferences")->currentIndex(); }

    std::vector<bool> ChangeFlags() const {
        return {dialog->SettingsChanged(), dialog->AddressesChanged(), dialog->SpammersChanged()};
    }

    std::unique_ptr<TfrmWizard> dialog;
    std::vector<platform::MessageBoxRequest> boxes;
    std::deque<int> answers;
    std::vector<int> helpContexts;
    std::vector<std::string> errors;

  private:
    platform::ErrorReporter previousReporter_;
    platform::ScopedMessageBoxHandler boxHandler_{[this](const platform::MessageBoxRequest& r) {
        boxes.push_back(r);
        if (answers.empty()) return int(platform::mrOk);
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }};
    platform::ScopedHelpHandler helpHandler_{
        [this](const platform::HelpRequest& r) { helpContexts.push_back(r.context); }};
};
