#pragma once

#include "platform/WidgetText.h"

#include <QHeaderView>
#include <QString>
#include <QStringList>
#include <QTableWidget>
#include <QVariant>
#include <string>

// What the results and the quarantine window share: tables of messages, a row each.

// Header text for a table cell and its tool tip. A header line can be megabytes long, and a
// table measures and draws such a cell for seconds; the first thousand characters show, then
// "…".
inline QString CellText(const std::string& bytes) {
    constexpr qsizetype kMaxChars = 1000;
    constexpr std::size_t kMaxBytes = 4 * kMaxChars; // UTF-8 takes at most 4 bytes a character
    QString text = platform::WidgetText(bytes.substr(0, kMaxBytes));
    if (bytes.size() <= kMaxBytes && text.size() <= kMaxChars) return text;
    text.truncate(kMaxChars - 1);
    return text + QChar(0x2026);
}

// A read-only cell whose tool tip holds its whole text, for a column too narrow for it.
inline QTableWidgetItem* Cell(const QVariant& value) {
    auto* item = new QTableWidgetItem;
    item->setData(Qt::DisplayRole, value);
    item->setToolTip(item->text());
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

// A table of messages: whole rows selected one at a time, no row numbers, one line a cell.
inline QTableWidget* NewMessageTable(QWidget* parent, const char* name, const QStringList& labels) {
    auto* table = new QTableWidget(0, int(labels.size()), parent);
    table->setObjectName(name);
    table->setHorizontalHeaderLabels(labels);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    table->setWordWrap(false);
    return table;
}
