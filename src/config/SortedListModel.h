#pragma once

#include <QAbstractListModel>
#include <QString>

#include <string>
#include <vector>

// The entries of a sorted list box: the bytes the list files hold, kept in alphabetical order
// that ignores letter case. Equal entries are allowed and keep the order they came in. The
// entries sit in a sorted vector, so adding one to 100,000 is a binary search and one
// insertion, not a re-sort, and the view asks only for the rows it shows.
class TSortedListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Replaces every entry; sorts once.
    void Fill(const std::vector<std::string>& entries);
    // Puts the entry in its place, after any entries equal to it ignoring case; returns its row.
    int Add(const std::string& entry);
    void Delete(int row);

    // Whether an entry equals the text, ignoring letter case.
    bool Contains(const std::string& text) const;

    int Count() const { return static_cast<int>(entries_.size()); }
    const std::string& Entry(int row) const { return entries_[static_cast<size_t>(row)]; }
    // In list order, as the list file takes them.
    const std::vector<std::string>& Entries() const { return entries_; }

  private:
    std::vector<std::string> entries_;
    std::vector<QString> keys_; // case-folded text of each entry, the order's key
};
