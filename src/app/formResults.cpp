#include "formResults.h"

#include "MessageTable.h"
#include "ValidAddressAdd.h"
#include "platform/ErrorReport.h"
#include "platform/WidgetText.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Column { cAccount, cNumber, cVerdict, cMark, cReason, cFrom, cSubject, cDate, cSize };
// Where a row's result is: group and index, kept in the number cell (rows move when sorted).
constexpr int kGroupRole = Qt::UserRole;
constexpr int kIndexRole = Qt::UserRole + 1;

QTableWidgetItem* NumberCell(qint64 n) {
    auto* item = Cell({});
    item->setData(Qt::DisplayRole, n); // sorts as a number
    return item;
}

} // namespace

TfrmResults::TfrmResults(QWidget* parent) : QDialog(parent) {
    setObjectName("frmResults");
    setWindowTitle("Last Check Results");
    table_ = NewMessageTable(
        this, "tblResults",
        {"Account", "No.", "Verdict", "Mark", "Reason", "From", "Subject", "Date", "Size"});
    report_ = new QLabel(this);
    report_->setObjectName("lblReport");
    report_->setWordWrap(true);
    btnAddSender_ = new QPushButton("Add sender to valid addresses", this);
    btnAddSender_->setObjectName("btnAddSender");
    btnEatMarked_ = new QPushButton("Eat marked", this);
    btnEatMarked_->setObjectName("btnEatMarked");
    auto* close = new QPushButton("Close", this);
    close->setObjectName("btnClose");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnAddSender_);
    buttons->addStretch();
    buttons->addWidget(btnEatMarked_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(report_);
    layout->addLayout(buttons);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(btnEatMarked_, &QPushButton::clicked, this,
            [this] { platform::Guarded([this] { EatMarkedClick(); }); });
    connect(btnAddSender_, &QPushButton::clicked, this,
            [this] { platform::Guarded([this] { AddSenderClick(); }); });
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    // Within the screen, also at large scale factors.
    const QRect screen = this->screen()->availableGeometry();
    resize(std::min(900, screen.width() * 9 / 10), std::min(420, screen.height() * 8 / 10));
    UpdateButtons();
}

void TfrmResults::ShowResults(const std::vector<TResultGroup>& groups) {
    groups_ = groups;
    table_->setSortingEnabled(false);
    table_->clearContents();
    table_->setRowCount(0);
    // Spam first, then mailbox order.
    struct Place {
        int group, index;
    };
    std::vector<Place> order;
    for (std::size_t g = 0; g < groups_.size(); ++g)
        for (std::size_t i = 0; i < groups_[g].results.size(); ++i)
            order.push_back({int(g), int(i)});
    std::stable_sort(order.begin(), order.end(), [this](const Place& a, const Place& b) {
        return !groups_[a.group].results[a.index].Verdict.Passed() &&
               groups_[b.group].results[b.index].Verdict.Passed();
    });
    table_->setRowCount(int(order.size()));
    for (int row = 0; row < int(order.size()); ++row) {
        const TResultGroup& group = groups_[order[row].group];
        const screening::TScanResult& r = group.results[order[row].index];
        const bool spam = !r.Verdict.Passed();
        table_->setItem(row, cAccount, Cell(platform::WidgetText(group.account.AccountName)));
        QTableWidgetItem* number = NumberCell(r.Number);
        number->setData(kGroupRole, order[row].group);
        number->setData(kIndexRole, order[row].index);
        table_->setItem(row, cNumber, number);
        table_->setItem(row, cVerdict,
                        Cell(platform::WidgetText(screening::VerdictText(r.Verdict.kind))));
        // Spam is eaten unless kept; an OK message only when marked; one the check ate
        // already is gone.
        QTableWidgetItem* mark = Cell(r.Eaten ? "eaten" : spam ? "Keep" : "Eat");
        if (!r.Eaten) {
            mark->setFlags(mark->flags() | Qt::ItemIsUserCheckable);
            mark->setCheckState(Qt::Unchecked);
        }
        table_->setItem(row, cMark, mark);
        table_->setItem(row, cReason, Cell(CellText(screening::ReasonText(r))));
        table_->setItem(row, cFrom, Cell(CellText(r.From)));
        table_->setItem(row, cSubject, Cell(CellText(r.Subject)));
        table_->setItem(row, cDate, Cell(CellText(r.Date)));
        table_->setItem(row, cSize, r.Size < 0 ? Cell({}) : NumberCell(r.Size));
    }
    table_->setColumnHidden(cAccount, groups_.size() < 2);
    // Unsorted until the user asks: enabling sorting sorts by the indicator's column at once.
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setSortingEnabled(true);
    table_->resizeColumnsToContents();
    for (int c : {cReason, cFrom, cSubject})
        table_->setColumnWidth(c, std::min(table_->columnWidth(c), 280));
    UpdateButtons();
}

void TfrmResults::SetReport(const std::string& text) {
    report_->setText(platform::WidgetText(text));
}

void TfrmResults::UpdateButtons() {
    btnEatMarked_->setEnabled(table_->rowCount() > 0);
    btnAddSender_->setEnabled(!table_->selectedItems().isEmpty());
}

void TfrmResults::EatMarkedClick() {
    std::vector<std::vector<screening::TMark>> marks(groups_.size());
    for (std::size_t g = 0; g < groups_.size(); ++g)
        marks[g].assign(groups_[g].results.size(), screening::TMark::ByVerdict);
    for (int row = 0; row < table_->rowCount(); ++row) {
        const QTableWidgetItem* number = table_->item(row, cNumber);
        if (table_->item(row, cMark)->checkState() != Qt::Checked) continue;
        const int g = number->data(kGroupRole).toInt(), i = number->data(kIndexRole).toInt();
        marks[g][i] =
            groups_[g].results[i].Verdict.Passed() ? screening::TMark::Eat : screening::TMark::Keep;
    }
    std::vector<TResultGroup> marked;
    for (std::size_t g = 0; g < groups_.size(); ++g) {
        std::vector<screening::TScanResult> eat =
            screening::MarkedToEat(groups_[g].results, marks[g]);
        if (!eat.empty()) marked.push_back({groups_[g].account, std::move(eat)});
    }
    if (marked.empty()) return SetReport("Nothing is marked to eat");
    if (OnEatMarked) OnEatMarked(std::move(marked));
}

void TfrmResults::AddSenderClick() {
    const QList<QTableWidgetItem*> selected = table_->selectedItems();
    if (selected.isEmpty()) return;
    const QTableWidgetItem* number = table_->item(selected.first()->row(), cNumber);
    const screening::TScanResult& r =
        groups_[number->data(kGroupRole).toInt()].results[number->data(kIndexRole).toInt()];
    SetReport(AddValidAddress(screening::SenderAddress(r.From)));
}
