#pragma once

#include "screening/QuarantineReader.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

// One account's quarantine file.
struct TQuarantineSource {
    std::string Account;
    std::string Path; // the current file; the older one is found beside it
};

// "Quarantine": the messages kept in the quarantine files, newest first, with "Save As…"
// (an .eml, byte for byte as received), "Open" (that .eml with the desktop's mail program)
// and "Add sender to valid addresses".
class TfrmQuarantine : public QDialog {
  public:
    // open: hands a file to the desktop's program for it. With more than one source the
    // table names each message's account.
    TfrmQuarantine(QWidget* parent, std::vector<TQuarantineSource> sources,
                   std::function<void(const std::string&)> open);

    // Reads the files again.
    void Reload();

    // Asks where "Save As…" writes; replaceable for tests. Empty: cancelled.
    std::function<std::string(const std::string& suggested)> AskSavePath;

  private:
    const screening::TQuarantinedMessage* Selected() const;
    void SaveAsClick();
    void OpenClick();
    void AddSenderClick();
    void UpdateButtons();

    std::vector<TQuarantineSource> sources_;
    std::function<void(const std::string&)> open_;
    struct TListed {
        screening::TQuarantinedMessage message;
        std::string account;
    };
    std::vector<TListed> messages_; // oldest first
    QTableWidget* table_ = nullptr;
    QLabel* report_ = nullptr;
    QPushButton* btnSaveAs_ = nullptr;
    QPushButton* btnOpen_ = nullptr;
    QPushButton* btnAddSender_ = nullptr;
};
