#pragma once

// Small builders of the controls of the preferences dialog and its sign-in dialog.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

namespace wizard {

template <class Widget> Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

inline QLabel* LabelFor(const char* text, QWidget* buddy) {
    auto* label = new QLabel(QString::fromUtf8(text));
    label->setBuddy(buddy);
    return label;
}

inline QLineEdit* Edit(const char* name) {
    return Named(new QLineEdit, name);
}

inline QPushButton* Button(const char* caption, const char* name) {
    return Named(new QPushButton(QString::fromUtf8(caption)), name);
}

} // namespace wizard
