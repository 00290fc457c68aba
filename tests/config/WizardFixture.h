#pragma once

#include "ConfigFixture.h"
#include "config/formWizard.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>

#include <deque>
#include <memory>

// A preferences dialog over a store read from the files the test wrote, shown without
// exec() so the test keeps running. Message boxes are recorded and answered from `answers`
// (OK when none is left); help requests and reported errors are recorded.
class WizardFixture : public ConfigFixture {
  public:
    void TearDown() override {
        dialog.reset();
        ConfigFixture::TearDown();
    }

    void Open() {
        dialog.reset();
        DestroyConfigData();
        CreateConfigData();
        dialog = std::make_unique<TfrmWizard>();
        dialog->show();
    }

    template <class Widget = QWidget> Widget* Find(const char* name) {
        auto* widget = dialog->findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    std::vector<std::string> Entries(const char* list) {
        std::vector<std::string> entries;
        const QAbstractItemModel* model = Find<QListView>(list)->model();
        for (int row = 0; row < model->rowCount(); ++row)
            entries.push_back(model->index(row, 0).data().toString().toStdString());
        return entries;
    }
    // Selects a row as a click does; -1 selects nothing.
    void Select(const char* list, int row) {
        QListView* view = Find<QListView>(list);
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::ClearAndSelect);
    }
    void SetText(const char* edit, const std::string& text) {
        Find<QLineEdit>(edit)->setText(QString::fromStdString(text));
    }
    std::string Text(const char* edit) { return Find<QLineEdit>(edit)->text().toStdString(); }
    void Click(const char* button) { Find<QAbstractButton>(button)->click(); }
    // A key as the keyboard sends it: to the control with the focus.
    void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(dialog->focusWidget(), &press);
    }
    // SettingsChanged, AddressesChanged, SpammersChanged.
    std::vector<bool> ChangeFlags() const {
        return {dialog->SettingsChanged(), dialog->AddressesChanged(), dialog->SpammersChanged()};
    }
    // The text of the one box shown since the last call; empty when none was.
    std::string TakeBox() {
        EXPECT_LE(boxes.size(), 1u);
        const std::string text = boxes.empty() ? "" : boxes[0].text;
        boxes.clear();
        return text;
    }

    std::unique_ptr<TfrmWizard> dialog;
    std::vector<platform::MessageBoxRequest> boxes;
    std::deque<int> answers;
    std::vector<int> helpContexts;
    std::vector<std::string> errors;

  private:
    platform::ScopedMessageBoxHandler boxHandler_{[this](const platform::MessageBoxRequest& r) {
        boxes.push_back(r);
        const int answer = answers.empty() ? int(platform::mrOk) : answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer;
    }};
    platform::ScopedHelpHandler helpHandler_{
        [this](const platform::HelpRequest& r) { helpContexts.push_back(r.context); }};
    platform::ScopedErrorReporter reporter_{[this](const std::string& m) { errors.push_back(m); }};
};
