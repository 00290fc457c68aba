// The controls of the preferences dialog and their layout.
#include "formWizard.h"

#include "SortedListModel.h"
#include "formWizardWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

using wizard::Button;
using wizard::Edit;
using wizard::LabelFor;
using wizard::Named;

// An untitled frame around a word-wrapped explanation at the top of a page.
QGroupBox* Explanation(const char* text) {
    auto* frame = new QGroupBox;
    auto* label = new QLabel(QString::fromUtf8(text));
    label->setWordWrap(true);
    // The dialog takes its fixed size from the minimum sizes, which assume a wrapped label
    // wider than the page; room for four lines is what the longest explanation needs.
    label->setMinimumHeight(4 * label->fontMetrics().lineSpacing());
    auto* layout = new QVBoxLayout(frame);
    layout->addWidget(label);
    return frame;
}

// A list box that holds up to 100,000 entries: rows of one height, so the view lays out only
// what it shows.
QListView* ListBox(const char* name, TSortedListModel* model) {
    auto* list = Named(new QListView, name);
    list->setModel(model);
    list->setUniformItemSizes(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setMinimumHeight(7 * list->fontMetrics().lineSpacing() + 2 * list->frameWidth());
    return list;
}

// Add, Change and Delete beside a list box.
// Both list pages: an edit over its list, the three buttons beside them.
QGridLayout* ListEditor(const char* editLabel, QLineEdit* edit, const char* listLabel,
                        QListView* list, QPushButton* add, QPushButton* change, QPushButton* del) {
    auto* column = new QVBoxLayout;
    column->addWidget(add);
    column->addWidget(change);
    column->addWidget(del);
    column->addStretch();
    auto* grid = new QGridLayout;
    grid->addWidget(LabelFor(editLabel, edit), 0, 0);
    grid->addWidget(edit, 1, 0);
    grid->addWidget(LabelFor(listLabel, list), 2, 0);
    grid->addWidget(list, 3, 0);
    grid->addLayout(column, 1, 1, 3, 1);
    return grid;
}

} // namespace

void TfrmWizard::BuildServerPage() {
    tabshtServer = Named(new QWidget, "tabshtServer");
    auto* page = new QVBoxLayout(tabshtServer);
    page->addWidget(Explanation(
        "This section is where you provide the information for logging into the mail server "
        "that provides you your POP3 compatible mailbox. You'll need the qualified name of the "
        "server and your login name and password. Enter these below and click Next."));
    page->addWidget(BuildAccountSelector());

    auto* frame = new QGroupBox(QStringLiteral("POP3 Mail Server Information"));
    auto* grid = new QGridLayout(frame);
    editServerName = Edit("editServerName");
    editServerName->setMaxLength(64);
    editLoginName = Edit("editLoginName");
    editLoginName->setMaxLength(40);
    editPassword = Edit("editPassword");
    editConfirm = Edit("editConfirm");
    for (QLineEdit* edit : {editPassword, editConfirm}) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*"
    }
    grid->addWidget(LabelFor("Fully Qualified Server &Name (eg. pop.example.com or "
                             "mail.example.net):",
                             editServerName),
                    0, 0, 1, 2);
    grid->addWidget(editServerName, 1, 0, 1, 2);
    grid->addWidget(LabelFor("Your &login name for this server:", editLoginName), 2, 0, 1, 2);
    grid->addWidget(editLoginName, 3, 0);
    grid->addWidget(LabelFor("Login &Password:", editPassword), 4, 0);
    grid->addWidget(LabelFor("&Confirm Password:", editConfirm), 4, 1);
    grid->addWidget(editPassword, 5, 0);
    grid->addWidget(editConfirm, 5, 1);
    lblPasswordPlace = Named(new QLabel, "lblPasswordPlace");
    grid->addWidget(lblPasswordPlace, 6, 0, 1, 2);
    // The order of the items is the Security setting's number.
    cmbSecurity = Named(new QComboBox, "cmbSecurity");
    cmbSecurity->addItems(
        {QStringLiteral("None"), QStringLiteral("TLS (POP3S)"), QStringLiteral("STLS")});
    cmbSecurity->setToolTip(
        QStringLiteral("TLS: an encrypted connection from the start (port 995 unless the\n"
                       "server names one). STLS: a plain connection made secure before the\n"
                       "login. Either way the server's certificate is checked."));
    grid->addWidget(LabelFor("Connection &security:", cmbSecurity), 7, 0);
    grid->addWidget(cmbSecurity, 8, 0);
    BuildLoginMethod(grid, 7);
    page->addWidget(frame);
    page->addStretch();
    pgctrlPreferences->addTab(tabshtServer, QStringLiteral("Server"));

    for (QLineEdit* edit : {editServerName, editLoginName, editPassword, editConfirm})
        connect(edit, &QLineEdit::textChanged, this, [this] { settingsChanged_ = true; });
    connect(cmbSecurity, &QComboBox::activated, this, [this] { settingsChanged_ = true; });
}

void TfrmWizard::BuildAddressPage() {
    tabshtAddrs = Named(new QWidget, "tabshtAddrs");
    auto* page = new QVBoxLayout(tabshtAddrs);
    page->addWidget(Explanation(
        "If address checking is enabled, you should enter ALL of your valid email addresses in "
        "this list. Only mail with addresses listed below will be accepted when address "
        "checking is enabled!"));

    editEmailAddress = Edit("editEmailAddress");
    addresses_ = new TSortedListModel(this);
    lbAddresses = ListBox("lbAddresses", addresses_);
    btnAddAddress = Button("&Add", "btnAddAddress");
    btnChange = Button("&Change", "btnChange");
    btnDeleteAddress = Button("&Delete", "btnDeleteAddress");
    for (QPushButton* button : {btnAddAddress, btnChange, btnDeleteAddress})
        button->setEnabled(false);

    page->addLayout(ListEditor("&Email Address:", editEmailAddress, "Acceptable Email Add&resses:",
                               lbAddresses, btnAddAddress, btnChange, btnDeleteAddress),
                    1);

    rgAddrCheckType =
        Named(new QGroupBox(QStringLiteral("Address Checking Type")), "rgAddrCheckType");
    rbDisabled = Named(new QRadioButton(QStringLiteral(
                           "Disabled (Morvandle will NOT check messages for valid email "
                           "addresses)")),
                       "rbDisabled");
    rbStdCheck = Named(new QRadioButton(QStringLiteral(
                           "Check mail for a valid address (can be located anywhere in the "
                           "headers)")),
                       "rbStdCheck");
    rbStrictCheck = Named(new QRadioButton(QStringLiteral(
                              "Strict Checking (a valid address MUST appear in the message TO: "
                              "header)")),
                          "rbStrictCheck");
    rbDisabled->setChecked(true);
    auto* radios = new QVBoxLayout(rgAddrCheckType);
    for (QRadioButton* radio : {rbDisabled, rbStdCheck, rbStrictCheck}) {
        radios->addWidget(radio);
        connect(radio, &QRadioButton::clicked, this, [this] { settingsChanged_ = true; });
    }
    page->addWidget(rgAddrCheckType);
    pgctrlPreferences->addTab(tabshtAddrs, QStringLiteral("Addresses"));

    connect(editEmailAddress, &QLineEdit::textChanged, this, &TfrmWizard::editEmailAddressChange);
    // A click on the selected entry copies it into the edit again, as a change of selection does.
    connect(lbAddresses->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmWizard::lbAddressesClick);
    connect(lbAddresses, &QListView::clicked, this, &TfrmWizard::lbAddressesClick);
    connect(btnAddAddress, &QPushButton::clicked, this, &TfrmWizard::btnAddAddressClick);
    connect(btnChange, &QPushButton::clicked, this, &TfrmWizard::btnChangeClick);
    connect(btnDeleteAddress, &QPushButton::clicked, this, &TfrmWizard::btnDeleteAddressClick);
}

void TfrmWizard::BuildSpammerPage() {
    tabshtSpammers = Named(new QWidget, "tabshtSpammers");
    auto* page = new QVBoxLayout(tabshtSpammers);
    page->addWidget(Explanation(
        "Enter here the specific items you wish to scan for in message headers and have "
        "filtered out as spam. These can be email addresses, or any other text typically "
        "found in spammer email. If a text match is made, the message will be treated as "
        "spam."));

    editSpammerAddress = Edit("editSpammerAddress");
    spammers_ = new TSortedListModel(this);
    lbKnownSpammers = ListBox("lbKnownSpammers", spammers_);
    btnSpammerAdd = Button("&Add", "btnSpammerAdd");
    btnSpammersChange = Button("&Change", "btnSpammersChange");
    btnSpammerDelete = Button("&Delete", "btnSpammerDelete");

    page->addLayout(ListEditor("&Search  String:", editSpammerAddress,
                               "De&fined/Active Search Strings:", lbKnownSpammers, btnSpammerAdd,
                               btnSpammersChange, btnSpammerDelete),
                    1);

    cbxCaseInsensitive = Named(
        new QCheckBox(QStringLiteral("&Use case-insensitive matching (ignore case when looking "
                                     "for matches)")),
        "cbxCaseInsensitive");
    cbxCaseInsensitive->setToolTip(
        QStringLiteral("Case-Insensitive matching allowed. The default\nis for case-sensitive "
                       "matching. Checking this option\ncan slow processing dramatically!"));
    page->addWidget(cbxCaseInsensitive);
    cbxQuarantine =
        Named(new QCheckBox(QStringLiteral("&Keep a copy of deleted messages")), "cbxQuarantine");
    cbxQuarantine->setToolTip(
        QStringLiteral("Check and Eat keeps every message it deletes in quarantine.mbox,\n"
                       "where any mail program that reads mbox files can open it."));
    page->addWidget(cbxQuarantine);
    pgctrlPreferences->addTab(tabshtSpammers, QStringLiteral("Spammers"));

    connect(lbKnownSpammers->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmWizard::lbKnownSpammersClick);
    connect(lbKnownSpammers, &QListView::clicked, this, &TfrmWizard::lbKnownSpammersClick);
    connect(btnSpammerAdd, &QPushButton::clicked, this, &TfrmWizard::btnSpammerAddClick);
    connect(btnSpammersChange, &QPushButton::clicked, this, &TfrmWizard::btnSpammersChangeClick);
    connect(btnSpammerDelete, &QPushButton::clicked, this, &TfrmWizard::btnSpammerDeleteClick);
    for (QCheckBox* box : {cbxCaseInsensitive, cbxQuarantine})
        connect(box, &QCheckBox::clicked, this, [this] { settingsChanged_ = true; });
}

void TfrmWizard::BuildButtons() {
    btnOk = Button("OK", "btnOk");
    btnOk->setDefault(true);
    btnHelp = Button("&Help", "btnHelp");
    btnCancel = Button("Cancel", "btnCancel");

    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(btnOk);
    row->addWidget(btnHelp);
    row->addWidget(btnCancel);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);

    connect(btnOk, &QPushButton::clicked, this, &TfrmWizard::btnOkClick);
    connect(btnHelp, &QPushButton::clicked, this, &TfrmWizard::btnHelpClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmWizard::btnCancelClick);
}

// The dialog goes OK, Help, the pages, Cancel; each page goes in the order it lists its
// controls.
void TfrmWizard::SetTabOrder() {
    const QList<QWidget*> chain = {btnOk,
                                   btnHelp,
                                   pgctrlPreferences,
                                   cmbAccount,
                                   cbxAccountEnabled,
                                   editAccountName,
                                   btnAddAccount,
                                   btnRenameAccount,
                                   btnRemoveAccount,
                                   editServerName,
                                   editLoginName,
                                   editPassword,
                                   editConfirm,
                                   cmbSecurity,
                                   cmbAuth,
                                   cmbOAuth2Provider,
                                   editOAuth2ClientId,
                                   btnSignIn,
                                   editEmailAddress,
                                   lbAddresses,
                                   btnAddAddress,
                                   btnChange,
                                   btnDeleteAddress,
                                   rbDisabled,
                                   rbStdCheck,
                                   rbStrictCheck,
                                   editSpammerAddress,
                                   lbKnownSpammers,
                                   btnSpammerAdd,
                                   btnSpammersChange,
                                   btnSpammerDelete,
                                   cbxCaseInsensitive,
                                   cbxQuarantine,
                                   btnCancel};
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}
