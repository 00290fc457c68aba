#include "SortedListModel.h"

#include "platform/WidgetText.h"

#include <algorithm>
#include <numeric>

namespace {

// Entries are UTF-8 on screen; case folding makes "Ä" and "ä" one key, as for ASCII letters.
QString SortKey(const std::string& entry) {
    return platform::WidgetText(entry).toCaseFolded();
}

} // namespace

int TSortedListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

QVariant TSortedListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count() || role != Qt::DisplayRole) return {};
    const std::string& entry = Entry(index.row());
    return platform::WidgetText(entry);
}

void TSortedListModel::Fill(const std::vector<std::string>& entries) {
    std::vector<QString> keys;
    keys.reserve(entries.size());
    for (const std::string& entry : entries)
        keys.push_back(SortKey(entry));
    std::vector<size_t> order(entries.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return keys[a] < keys[b]; });

    beginResetModel();
    entries_.clear();
    keys_.clear();
    // Room to add: the first Add must not move every entry to a new block.
    const size_t room = entries.size() + entries.size() / 8 + 64;
    entries_.reserve(room);
    keys_.reserve(room);
    for (size_t i : order) {
        entries_.push_back(entries[i]);
        keys_.push_back(std::move(keys[i]));
    }
    endResetModel();
}

int TSortedListModel::Add(const std::string& entry) {
    QString key = SortKey(entry);
    const auto at = std::upper_bound(keys_.begin(), keys_.end(), key);
    const int row = static_cast<int>(at - keys_.begin());
    beginInsertRows({}, row, row);
    keys_.insert(at, std::move(key));
    entries_.insert(entries_.begin() + row, entry);
    endInsertRows();
    return row;
}

void TSortedListModel::Delete(int row) {
    beginRemoveRows({}, row, row);
    entries_.erase(entries_.begin() + row);
    keys_.erase(keys_.begin() + row);
    endRemoveRows();
}

bool TSortedListModel::Contains(const std::string& text) const {
    return std::binary_search(keys_.begin(), keys_.end(), SortKey(text));
}
