#include "formWizard.h"

#include "OrdinaryMail.h"
#include "SortedListModel.h"
#include "dataConfig.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "platform/WidgetText.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace {

constexpr int kHelpContext = 30;

// The hourglass for the length of a scope, also when it ends with an exception.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

void ShowDuplicate(const std::string& text) {
    platform::MessageDlg(text, platform::TMsgDlgType::mtInformation, platform::mbOK);
}

// Refuses, with a box that says why, a search string that could never match or that would
// match much ordinary mail.
bool RefusedSearchString(const std::string& text, bool ignoreCase) {
    const std::string_view match = MatchText(text);
    std::string why;
    if (match.empty()) {
        why = "A search string of only blanks and tabs would match nothing: it is not added.";
    } else if (IsOverBroadEntry(match, ignoreCase)) {
        why = "\"" + std::string(match) + "\" occurs in " +
              std::to_string(OrdinaryMessagesContaining(match, ignoreCase)) + " of the " +
              std::to_string(OrdinaryMailSampleSize()) +
              " ordinary messages of the sample, so it would match much good mail: it is not "
              "added.";
    } else {
        return false;
    }
    platform::MessageDlg(why, platform::TMsgDlgType::mtWarning, platform::mbOK);
    return true;
}

} // namespace

TfrmWizard::TfrmWizard(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmWizard"));
    setWindowTitle(QStringLiteral("Morvandle Preferences"));
    auto* layout = new QVBoxLayout(this);
    pgctrlPreferences = new QTabWidget;
    pgctrlPreferences->setObjectName(QStringLiteral("pgctrlPreferences"));
    layout->addWidget(pgctrlPreferences);
    BuildServerPage();
    BuildAddressPage();
    BuildSpammerPage();
    BuildButtons();
    SetTabOrder();
    FitScreen(minimumSizeHint().expandedTo(QSize(441, 330)));
    qApp->installEventFilter(this);
}

TfrmWizard::~TfrmWizard() = default;

// Fixed size: the designed client area, or as much more as the fonts need. Where the screen
// is smaller than that (large fonts, a scale of 2) the pages scroll, and the OK row stays on it.
void TfrmWizard::FitScreen(QSize wanted) {
    const QScreen* screen = this->screen();
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const QSize room =
        screen ? screen->availableGeometry().size() - QSize(16, titleBar + 16) : wanted;
    if (wanted.height() > room.height() || wanted.width() > room.width()) {
        for (int i = 0; i < pgctrlPreferences->count(); ++i) {
            QWidget* page = pgctrlPreferences->widget(i);
            const QString title = pgctrlPreferences->tabText(i);
            pgctrlPreferences->removeTab(i);
            auto* scroll = new QScrollArea;
            scroll->setFrameShape(QFrame::NoFrame);
            scroll->setWidgetResizable(true);
            scroll->setWidget(page);
            pgctrlPreferences->insertTab(i, scroll, title);
        }
    }
    setFixedSize(wanted.boundedTo(room));
}

void TfrmWizard::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    FormShow();
}

void TfrmWizard::FormShow() {
    WaitCursor cursor;
    setWindowTitle(QStringLiteral("Morvandle Preferences"));
    pgctrlPreferences->setCurrentIndex(0);
    spammers_->Fill(ConfigData->SpammerList);
    addresses_->Fill(ConfigData->GoodAddrList);
    spammersRead_ = {spammers_->Entries(), ConfigData->SpammerFile};
    addressesRead_ = {addresses_->Entries(), ConfigData->GoodAddrFile};
    FillAccounts();
    Fill(editServerName, ConfigData->Server, server_);
    Fill(editLoginName, ConfigData->Login, login_);
    Fill(editPassword, ConfigData->Password, password_);
    Fill(editConfirm, ConfigData->Password, confirm_);
    ShowPasswordPlace();
    ShowLoginMethod();
    // Selecting one clears the others, so strict wins when the file has both on.
    if (ConfigData->Unknown) rbStdCheck->setChecked(true);
    if (ConfigData->Strict) rbStrictCheck->setChecked(true);
    if (ConfigData->NoCase) cbxCaseInsensitive->setChecked(true);
    cbxQuarantine->setChecked(ConfigData->Quarantine);
    cmbSecurity->setCurrentIndex(ConfigData->Security);
    EnableAddressChecking();
    editServerName->setFocus();
    settingsChanged_ = addressesChanged_ = spammersChanged_ = false;
}

void TfrmWizard::Fill(QLineEdit* edit, const std::string& bytes, FilledText& filled) {
    edit->setText(platform::WidgetText(bytes));
    filled = {bytes, edit->text()};
}

std::string TfrmWizard::Taken(const QLineEdit* edit, const FilledText& filled) const {
    return edit->text() == filled.shown ? filled.bytes : Utf8(edit->text());
}

bool TfrmWizard::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && isVisible()) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this && FormKeyDown(static_cast<QKeyEvent*>(event)))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool TfrmWizard::FormKeyDown(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_F1 && mods == Qt::NoModifier) {
        btnHelpClick();
        return true;
    }
    // Ctrl alone: with Shift or Alt held as well the keys do nothing here.
    const bool up = event->key() == Qt::Key_PageUp;
    if ((!up && event->key() != Qt::Key_PageDown) || mods != Qt::ControlModifier) return false;
    const int count = pgctrlPreferences->count();
    pgctrlPreferences->setCurrentIndex((pgctrlPreferences->currentIndex() + count + (up ? -1 : 1)) %
                                       count);
    return true;
}

void TfrmWizard::editEmailAddressChange() {
    btnAddAddress->setEnabled(!editEmailAddress->text().isEmpty());
}

void TfrmWizard::lbAddressesClick() {
    if (listUpdating_) return;
    const int row = SelectedRow(lbAddresses);
    editEmailAddress->setText(row < 0 ? QString() : platform::WidgetText(addresses_->Entry(row)));
    btnDeleteAddress->setEnabled(row >= 0);
    btnChange->setEnabled(row >= 0);
}

void TfrmWizard::btnAddAddressClick() {
    if (editEmailAddress->text().isEmpty()) return;
    editEmailAddress->setText(editEmailAddress->text().toLower());
    const std::string address = Utf8(editEmailAddress->text());
    if (addresses_->Contains(address)) {
        ShowDuplicate("The address " + address + "\r\nalready exists");
        return;
    }
    listUpdating_ = true;
    addresses_->Add(address);
    listUpdating_ = false;
    editEmailAddress->clear();
    editEmailAddress->setFocus();
    AddressesEdited();
    EnableAddressChecking();
}

void TfrmWizard::btnChangeClick() {
    const int row = SelectedRow(lbAddresses);
    if (row < 0) return;
    const std::string address = Utf8(editEmailAddress->text());
    if (addresses_->Contains(address)) {
        ShowDuplicate("The address " + address + "\r\nalready exists");
        return;
    }
    listUpdating_ = true;
    addresses_->Delete(row);
    addresses_->Add(address);
    listUpdating_ = false;
    ClearSelection(lbAddresses);
    AddressesEdited();
}

void TfrmWizard::btnDeleteAddressClick() {
    const int row = SelectedRow(lbAddresses);
    if (row < 0) return;
    listUpdating_ = true;
    addresses_->Delete(row);
    listUpdating_ = false;
    ClearSelection(lbAddresses);
    editEmailAddress->setFocus();
    AddressesEdited();
    EnableAddressChecking();
}

// The choice stays selected while the frame is disabled.
void TfrmWizard::EnableAddressChecking() {
    const bool any = addresses_->Count() > 0;
    rgAddrCheckType->setEnabled(any);
    for (QRadioButton* radio : {rbDisabled, rbStdCheck, rbStrictCheck})
        radio->setEnabled(any);
}

void TfrmWizard::lbKnownSpammersClick() {
    if (listUpdating_) return;
    const int row = SelectedRow(lbKnownSpammers);
    editSpammerAddress->setText(row < 0 ? QString() : platform::WidgetText(spammers_->Entry(row)));
}

void TfrmWizard::btnSpammerAddClick() {
    const std::string text = Utf8(editSpammerAddress->text());
    if (spammers_->Contains(text)) {
        ShowDuplicate("An entry for " + text + "\r\nalready exists in the list");
        return;
    }
    // An empty edit adds nothing, as before; anything else must be a usable entry.
    if (!text.empty() && RefusedSearchString(text, cbxCaseInsensitive->isChecked())) return;
    if (!text.empty()) {
        listUpdating_ = true;
        spammers_->Add(text);
        listUpdating_ = false;
    }
    editSpammerAddress->clear();
    editSpammerAddress->setFocus();
    SpammersEdited();
}

void TfrmWizard::btnSpammersChangeClick() {
    const int row = SelectedRow(lbKnownSpammers);
    if (row < 0) return;
    const std::string text = Utf8(editSpammerAddress->text());
    if (spammers_->Contains(text)) {
        ShowDuplicate("An entry for " + text + "\r\nalready exists in the list");
        return;
    }
    if (RefusedSearchString(text, cbxCaseInsensitive->isChecked())) return;
    listUpdating_ = true;
    spammers_->Delete(row);
    spammers_->Add(text);
    listUpdating_ = false;
    ClearSelection(lbKnownSpammers);
    SpammersEdited();
}

void TfrmWizard::btnSpammerDeleteClick() {
    const int row = SelectedRow(lbKnownSpammers);
    if (row < 0) return;
    listUpdating_ = true;
    spammers_->Delete(row);
    listUpdating_ = false;
    ClearSelection(lbKnownSpammers);
    editSpammerAddress->setFocus();
    SpammersEdited();
}

void TfrmWizard::AddressesEdited() {
    addressesChanged_ = settingsChanged_ = true;
}

void TfrmWizard::SpammersEdited() {
    spammersChanged_ = settingsChanged_ = true;
}

void TfrmWizard::ClearSelection(QListView* list) {
    listUpdating_ = true;
    list->selectionModel()->clear();
    listUpdating_ = false;
    if (list == lbAddresses) {
        btnChange->setEnabled(false);
        btnDeleteAddress->setEnabled(false);
    }
}

int TfrmWizard::SelectedRow(const QListView* list) const {
    const QModelIndexList selected = list->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void TfrmWizard::SaveSettings() {
    WaitCursor cursor;
    ConfigData->Server = Taken(editServerName, server_);
    ConfigData->Login = Taken(editLoginName, login_);
    ConfigData->Password = Taken(editPassword, password_);
    if (addressesChanged_) SaveList(AddressListPath(), "GoodAddr.txt", *addresses_, addressesRead_);
    if (spammersChanged_) SaveList(SpammerListPath(), "spammers.txt", *spammers_, spammersRead_);
    ConfigData->Unknown = rbStdCheck->isChecked();
    ConfigData->Strict = rbStrictCheck->isChecked();
    ConfigData->NoCase = cbxCaseInsensitive->isChecked();
    ConfigData->Quarantine = cbxQuarantine->isChecked();
    ConfigData->Security = cmbSecurity->currentIndex();
    ConfigData->Enabled = cbxAccountEnabled->isChecked();
    TakeLoginMethod(*ConfigData);
    ConfigData->WriteConfig();
    WriteLoginMethod();
}

void TfrmWizard::SaveList(const std::string& path, const std::string& name, TSortedListModel& model,
                          ListAsRead& read) {
    for (;;) {
        if (auto saved = SaveListFile(path, model.Entries(), read.fingerprint)) {
            read = {model.Entries(), *saved};
            return;
        }
        const int answer = platform::MessageDlg(
            name + " was changed by another program while this dialog was open.\r\n\r\nReload "
                   "it and apply your changes to it again?",
            platform::TMsgDlgType::mtConfirmation, platform::mbYes | platform::mbNo);
        if (answer != platform::mrYes) return;
        ReloadWithEdits(path, model, read);
    }
}

// The edits are the difference, entry by entry, between the list box and the list as the
// dialog filled it in; they go onto the file as it is now, which becomes the new base.
void TfrmWizard::ReloadWithEdits(const std::string& path, TSortedListModel& model,
                                 ListAsRead& read) {
    auto sorted = [](std::vector<std::string> entries) {
        std::sort(entries.begin(), entries.end());
        return entries;
    };
    const std::vector<std::string> before = sorted(read.entries);
    const std::vector<std::string> now = sorted(model.Entries());
    std::vector<std::string> removed, added;
    std::set_difference(before.begin(), before.end(), now.begin(), now.end(),
                        std::back_inserter(removed));
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(),
                        std::back_inserter(added));
    TListFileContent fresh = ReadListFile(path);
    listUpdating_ = true;
    model.Fill(fresh.entries);
    read = {model.Entries(), fresh.fingerprint};
    for (const std::string& entry : removed)
        for (int row = 0; row < model.Count(); ++row)
            if (model.Entry(row) == entry) {
                model.Delete(row);
                break;
            }
    for (const std::string& entry : added)
        if (!model.Contains(entry)) model.Add(entry);
    listUpdating_ = false;
    EnableAddressChecking();
}

// A failed save shows its error and leaves the dialog open with everything typed.
void TfrmWizard::btnOkClick() {
    platform::Guarded([this] {
        SaveSettings();
        SavePasswordThen([this] { accept(); });
    });
}

void TfrmWizard::btnCancelClick() {
    if (settingsChanged_ || addressesChanged_ || spammersChanged_) {
        const int answer =
            platform::MessageDlg("Save your changes first?", platform::TMsgDlgType::mtConfirmation,
                                 platform::mbYes | platform::mbNo | platform::mbCancel);
        if (answer == platform::mrYes) {
            platform::Guarded([this] {
                SaveSettings();
                SavePasswordThen([this] { QDialog::done(Rejected); });
            });
            return;
        }
        if (answer != platform::mrNo) return;
    }
    QDialog::done(Rejected);
}

void TfrmWizard::reject() {
    btnCancelClick();
}

// The title bar's close box neither asks nor saves.
void TfrmWizard::closeEvent(QCloseEvent* event) {
    QDialog::done(Rejected);
    event->accept();
}

void TfrmWizard::btnHelpClick() {
    platform::ShowHelpContext(kHelpContext);
}
