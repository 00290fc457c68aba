#include "formQuarantine.h"

#include "MessageTable.h"
#include "ValidAddressAdd.h"
#include "platform/ErrorReport.h"
#include "platform/Exception.h"
#include "platform/Paths.h"
#include "platform/WidgetText.h"
#include "screening/ScanResults.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Column { cAccount, cKept, cFrom, cSubject, cSize };
constexpr int kIndexRole = Qt::UserRole; // the message's place in messages_

// A file name from the subject: what file managers and mail programs take.
std::string SuggestedName(const screening::TQuarantinedMessage& m) {
    std::string name;
    for (char c : m.Subject.substr(0, 60))
        name += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    return (name.empty() ? "message" : name) + ".eml";
}

} // namespace

TfrmQuarantine::TfrmQuarantine(QWidget* parent, std::vector<TQuarantineSource> sources,
                               std::function<void(const std::string&)> open)
    : QDialog(parent), sources_(std::move(sources)), open_(std::move(open)) {
    setObjectName("frmQuarantine");
    setWindowTitle("Quarantine");
    table_ = NewMessageTable(this, "tblQuarantine", {"Account", "Kept", "From", "Subject", "Size"});
    table_->horizontalHeader()->setStretchLastSection(true);
    report_ = new QLabel(this);
    report_->setObjectName("lblReport");
    report_->setWordWrap(true);
    btnSaveAs_ = new QPushButton("Save As…", this);
    btnSaveAs_->setObjectName("btnSaveAs");
    btnOpen_ = new QPushButton("Open", this);
    btnOpen_->setObjectName("btnOpen");
    btnAddSender_ = new QPushButton("Add sender to valid addresses", this);
    btnAddSender_->setObjectName("btnAddSender");
    auto* close = new QPushButton("Close", this);
    close->setObjectName("btnClose");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnSaveAs_);
    buttons->addWidget(btnOpen_);
    buttons->addWidget(btnAddSender_);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(report_);
    layout->addLayout(buttons);
    const auto guarded = [this](void (TfrmQuarantine::*handler)()) {
        return [this, handler] { platform::Guarded([&] { (this->*handler)(); }); };
    };
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(btnSaveAs_, &QPushButton::clicked, this, guarded(&TfrmQuarantine::SaveAsClick));
    connect(btnOpen_, &QPushButton::clicked, this, guarded(&TfrmQuarantine::OpenClick));
    connect(btnAddSender_, &QPushButton::clicked, this, guarded(&TfrmQuarantine::AddSenderClick));
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(table_, &QTableWidget::cellDoubleClicked, this, guarded(&TfrmQuarantine::OpenClick));
    AskSavePath = [this](const std::string& suggested) {
        return QFileDialog::getSaveFileName(this, "Save As", platform::WidgetText(suggested),
                                            "Mail message (*.eml)")
            .toStdString();
    };
    // Within the screen, also at large scale factors.
    const QRect screen = this->screen()->availableGeometry();
    resize(std::min(760, screen.width() * 9 / 10), std::min(400, screen.height() * 8 / 10));
    Reload();
}

void TfrmQuarantine::Reload() {
    messages_.clear();
    std::string problems;
    for (const TQuarantineSource& source : sources_) {
        try {
            for (screening::TQuarantinedMessage& m : screening::ReadQuarantine(source.Path))
                messages_.push_back({std::move(m), source.Account});
        } catch (const platform::Exception& e) {
            problems += (problems.empty() ? "" : "\n") + std::string(e.what());
        }
    }
    // The accounts' files interleaved by the time each message was kept.
    std::stable_sort(messages_.begin(), messages_.end(), [](const TListed& a, const TListed& b) {
        return a.message.Kept < b.message.Kept;
    });
    report_->setText(platform::WidgetText(!problems.empty()   ? problems
                                          : messages_.empty() ? "The quarantine holds no messages"
                                                              : ""));
    table_->setSortingEnabled(false);
    table_->clearContents();
    table_->setRowCount(int(messages_.size()));
    // Newest first.
    for (int i = 0; i < int(messages_.size()); ++i) {
        const int row = int(messages_.size()) - 1 - i;
        const TListed& listed = messages_[std::size_t(i)];
        const screening::TQuarantinedMessage& m = listed.message;
        QTableWidgetItem* kept =
            Cell(m.Kept.isValid() ? QVariant(m.Kept.toLocalTime()) : QVariant());
        kept->setData(kIndexRole, i);
        table_->setItem(row, cKept, kept);
        table_->setItem(row, cAccount, Cell(platform::WidgetText(listed.account)));
        table_->setItem(row, cFrom, Cell(CellText(m.From)));
        table_->setItem(row, cSubject, Cell(CellText(m.Subject)));
        table_->setItem(row, cSize, Cell(qulonglong(m.Size)));
    }
    table_->setColumnHidden(cAccount, sources_.size() < 2);
    // Unsorted until the user asks: enabling sorting sorts by the indicator's column at once.
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setSortingEnabled(true);
    table_->resizeColumnsToContents();
    for (int c : {cFrom, cSubject})
        table_->setColumnWidth(c, std::min(table_->columnWidth(c), 280));
    UpdateButtons();
}

const screening::TQuarantinedMessage* TfrmQuarantine::Selected() const {
    const QList<QTableWidgetItem*> selected = table_->selectedItems();
    if (selected.isEmpty()) return nullptr;
    const int index = table_->item(selected.first()->row(), cKept)->data(kIndexRole).toInt();
    return &messages_[std::size_t(index)].message;
}

void TfrmQuarantine::UpdateButtons() {
    const bool one = Selected() != nullptr;
    for (QPushButton* b : {btnSaveAs_, btnOpen_, btnAddSender_})
        b->setEnabled(one);
}

void TfrmQuarantine::SaveAsClick() {
    const screening::TQuarantinedMessage* m = Selected();
    if (!m) return;
    const std::string target =
        AskSavePath(QDir::homePath().toStdString() + "/" + SuggestedName(*m));
    if (target.empty()) return;
    screening::ExportQuarantinedMessage(*m, target);
    report_->setText(platform::WidgetText("Saved as " + target));
}

// The mail program gets a copy in the user's runtime folder (private to the user): it may
// keep it open after we end. The name tells the file and place the message came from, as
// every quarantine file has a message at 0.
void TfrmQuarantine::OpenClick() {
    const screening::TQuarantinedMessage* m = Selected();
    if (!m) return;
    const std::string target =
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).toStdString() +
        "/morvandle-" + platform::FileNameOf(m->File) + "-" + std::to_string(m->Separator) + "-" +
        SuggestedName(*m);
    screening::ExportQuarantinedMessage(*m, target);
    open_(target);
}

void TfrmQuarantine::AddSenderClick() {
    if (const screening::TQuarantinedMessage* m = Selected())
        report_->setText(platform::WidgetText(AddValidAddress(screening::SenderAddress(m->From))));
}
