#pragma once

#include "config/Accounts.h"
#include "screening/ScanResults.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

// The results of one account's part of the last check.
struct TResultGroup {
    TAccountSettings account;
    std::vector<screening::TScanResult> results;
};

// "Last Check Results": one row per message, spam first, in a table the user can sort; a
// spam row can be marked Keep and an OK row Eat. "Eat marked" hands the messages to eat to
// OnEatMarked; nothing is deleted here.
class TfrmResults : public QDialog {
  public:
    explicit TfrmResults(QWidget* parent);

    void ShowResults(const std::vector<TResultGroup>& groups);
    // The line under the table: what the last "Eat marked" did, or why it could not start.
    void SetReport(const std::string& text);

    // The messages to eat, per account (accounts without any are left out).
    std::function<void(std::vector<TResultGroup> marked)> OnEatMarked;

  private:
    void EatMarkedClick();
    void AddSenderClick();
    void UpdateButtons();

    std::vector<TResultGroup> groups_;
    QTableWidget* table_ = nullptr;
    QLabel* report_ = nullptr;
    QPushButton* btnAddSender_ = nullptr;
    QPushButton* btnEatMarked_ = nullptr;
};
