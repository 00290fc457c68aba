#pragma once

#include "screening/QuarantineReader.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

// "Quarantine": the messages kept in the quarantine files, newest first, with "Save As…"
// (an .eml, byte for byte as received), "Open" (that .eml with the desktop's mail program)
// and "Add sender to valid addresses".
class TfrmQuarantine : public QDialog {
  public:
    // open: hands a file to the desktop's program for it.
    TfrmQuarantine(QWidget* parent, std::string quarantinePath,
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

    std::string path_;
    std::function<void(const std::string&)> open_;
    std::vector<screening::TQuarantinedMessage> messages_;
    QTableWidget* table_ = nullptr;
    QLabel* report_ = nullptr;
    QPushButton* btnSaveAs_ = nullptr;
    QPushButton* btnOpen_ = nullptr;
    QPushButton* btnAddSender_ = nullptr;
};
