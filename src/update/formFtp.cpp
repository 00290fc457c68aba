#include "formFtp.h"

#include "ElidedLabel.h"
#include "FileNameEdit.h"
#include "UpdateDownload.h"

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/FtpCli.h"
#include "net/WinsockErrors.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "platform/FileInfo.h"
#include "platform/Paths.h"
#include "platform/WidgetText.h"
#include "screening/CheckLock.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <cstdio>

using platform::MessageDlg;
using platform::TMsgDlgType;

namespace {
constexpr int kHelpContext = 100;
} // namespace

TfrmFtp::TfrmFtp(QWidget* owner, TkelLog& log)
    : QDialog(owner), log_(log), ftpClient_(std::make_unique<TFtpClient>()) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmFtp"));
    setWindowTitle(QStringLiteral("Update Morvandle Spammer List"));
    if (ConfigData) update::ConfigureUpdateClient(*ftpClient_, *ConfigData);
    host_ = ftpClient_->HostName();
    updatePath_ = platform::ProgramDir() + "/spamupd.txt";
    WireFtpClient();
    BuildWindow();
}

TfrmFtp::~TfrmFtp() {
    if (busyCursor_) QApplication::restoreOverrideCursor();
}

void TfrmFtp::BuildWindow() {
    radioGroup_ = new QGroupBox(QStringLiteral("Update From"), this);
    radioGroup_->setObjectName(QStringLiteral("RadioGroup1"));
    sources_ = new QButtonGroup(this);
    auto* fromServer = new QRadioButton(
        QStringLiteral("Internet ftp download from ") + platform::WidgetText(host_), radioGroup_);
    auto* fromFile = new QRadioButton(QStringLiteral("Local text file"), radioGroup_);
    sources_->addButton(fromServer, update::usUpdateServer);
    sources_->addButton(fromFile, update::usLocalFile);
    connect(sources_, &QButtonGroup::idClicked, this,
            [this](int id) { platform::Guarded([&] { RadioGroup1Click(id); }); });

    auto* fileEdit = new TFileNameEdit(radioGroup_);
    febLocalFile_ = fileEdit;
    febLocalFile_->setObjectName(QStringLiteral("febLocalFile"));
    fileEdit->DialogTitle = QStringLiteral("Locate update file");
    fileEdit->Filter = QStringLiteral("Text Files (*.txt)");
    febLocalFile_->setEnabled(false);

    auto* sourceLayout = new QVBoxLayout(radioGroup_);
    sourceLayout->addWidget(fromServer);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(fromFile);
    fileRow->addWidget(febLocalFile_, 1);
    fileRow->addWidget(fileEdit->BrowseButton());
    sourceLayout->addLayout(fileRow);

    const std::string last =
        ConfigData && !ConfigData->Update.empty() ? ConfigData->Update : "Never";
    groupBox2_ = new QGroupBox(
        QStringLiteral("Update Progress (Last: ") + platform::WidgetText(last) + ")", this);
    groupBox2_->setObjectName(QStringLiteral("GroupBox2"));
    auto* label2 = new QLabel(QStringLiteral("Current Activity:"), groupBox2_);
    label2->setObjectName(QStringLiteral("Label2"));
    lblActivity_ = new TElidedLabel({}, groupBox2_);
    lblActivity_->setObjectName(QStringLiteral("lblActivity"));
    lblActivity_->setMinimumWidth(260);
    pbUpdate_ = new QProgressBar(groupBox2_);
    pbUpdate_->setObjectName(QStringLiteral("pbUpdate"));
    pbUpdate_->setRange(0, 100);
    pbUpdate_->setValue(0);
    pbUpdate_->setTextVisible(false);
    auto* progressLayout = new QVBoxLayout(groupBox2_);
    auto* activityRow = new QHBoxLayout;
    activityRow->addWidget(label2);
    activityRow->addWidget(lblActivity_, 1);
    progressLayout->addLayout(activityRow);
    progressLayout->addWidget(pbUpdate_);

    btnStart_ = new QPushButton(QStringLiteral("&Start"), this);
    btnStart_->setObjectName(QStringLiteral("btnStart"));
    btnCancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel_->setObjectName(QStringLiteral("btnCancel"));
    btnHelp_ = new QPushButton(QStringLiteral("&Help"), this);
    btnHelp_->setObjectName(QStringLiteral("btnHelp"));
    for (QPushButton* b : {btnStart_, btnCancel_, btnHelp_})
        b->setAutoDefault(false);
    connect(btnStart_, &QPushButton::clicked, this,
            [this] { platform::Guarded([&] { btnStartClick(); }); });
    connect(btnCancel_, &QPushButton::clicked, this,
            [this] { platform::Guarded([&] { btnCancelClick(); }); });
    connect(btnHelp_, &QPushButton::clicked, this,
            [] { platform::Guarded([] { platform::ShowHelpContext(kHelpContext); }); });

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(btnStart_);
    buttons->addWidget(btnCancel_);
    buttons->addWidget(btnHelp_);
    buttons->addStretch();
    auto* left = new QVBoxLayout;
    left->addWidget(radioGroup_);
    left->addWidget(groupBox2_);
    auto* top = new QHBoxLayout(this);
    top->addLayout(left, 1);
    top->addLayout(buttons);

    setTabOrder(fromServer, fromFile);
    setTabOrder(fromFile, febLocalFile_);
    setTabOrder(febLocalFile_, btnStart_);
    setTabOrder(btnStart_, btnCancel_);
    setTabOrder(btnCancel_, btnHelp_);
    const QSize hint = sizeHint();
    setFixedSize(std::max(417, hint.width()), std::max(176, hint.height()));
}

void TfrmFtp::WireFtpClient() {
    TFtpClient& ftp = *ftpClient_;
    ftp.OnProgress = [this](TCustomFtpCli*, int32_t count, bool& abort) {
        pbUpdate_->setValue(static_cast<int>(std::min<std::int64_t>(count, pbUpdate_->maximum())));
        if (abortRequested_) abort = true;
    };
    ftp.OnStateChange = [this](TCustomFtpCli*) { ShowFtpState(); };
    ftp.OnCommand = [this](TCustomFtpCli*, std::string& cmd) {
        if (ConfigData && ConfigData->LogLevel) Log(cmd);
    };
    ftp.OnDisplay = [this](TCustomFtpCli*, const std::string& msg) {
        if (ConfigData && ConfigData->LogLevel) Log(msg);
    };
}

void TfrmFtp::ShowFtpState() {
    switch (ftpClient_->State()) {
    case ftpStNotConnected:
        return SetActivity("Inactive");
    case ftpStReady:
    case ftpStStepReady:
        return SetActivity("");
    case ftpStResolving:
        return SetActivity("Locating " + host_ + "...");
    case ftpStConnected:
        return;
    case ftpStAborting:
        return SetActivity("Aborting process...");
    case ftpStAwaitingBanner:
        return SetActivity("Waiting for ftp banner...");
    case ftpStAwaitingReply:
        return SetActivity("Retrieving update file...");
    }
}

void TfrmFtp::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    sources_->button(update::usLocalFile)->setChecked(true);
    RadioGroup1Click(update::usLocalFile);
}

void TfrmFtp::RadioGroup1Click(int index) {
    if (index == update::usUpdateServer) {
        updateSource_ = update::usUpdateServer;
        febLocalFile_->setEnabled(false);
        btnStart_->setFocus();
    } else {
        updateSource_ = update::usLocalFile;
        febLocalFile_->setEnabled(true);
        febLocalFile_->setFocus();
    }
}

void TfrmFtp::btnStartClick() {
    if (running_) return;
    abortRequested_ = false;
    running_ = true;
    struct EndOfRun {
        TfrmFtp& form;
        ~EndOfRun() {
            form.running_ = false;
            // The close box was used while the sequence ran: close now that it is over.
            if (form.closeAsked_) form.close();
        }
    } endOfRun{*this};

    // One check or update per program folder: held through the download and the merge,
    // taken once the user has answered (a box may stay open for long).
    screening::TCheckLock lock;
    const auto locked = [&lock] {
        if (lock.TryLock()) return true;
        MessageDlg(lock.BusyText(), TMsgDlgType::mtWarning, platform::mbOK);
        return false;
    };
    if (updateSource_ == update::usUpdateServer) {
        if (MessageDlg("Are you connected to the internet?", TMsgDlgType::mtConfirmation,
                       platform::mbYes | platform::mbNo) != platform::mrYes ||
            !locked())
            return;
        btnStart_->setEnabled(false);
        if (!Download()) {
            btnStart_->setEnabled(true);
            return;
        }
        SetActivity("Received - processing update...");
    } else {
        const std::string file = febLocalFile_->text().toStdString();
        if (file.empty() || !platform::FileExists(file)) {
            MessageDlg("You need to enter a valid file you wish to import", TMsgDlgType::mtWarning,
                       platform::mbOK);
            febLocalFile_->setFocus();
            return;
        }
        if (!locked()) return;
        btnStart_->setEnabled(false);
    }
    Merge();
}

bool TfrmFtp::Download() {
    // Left by a download that was killed part-way.
    update::RemoveStaleUpdatePart(updatePath_);
    Log("Retrieving spammers list update");
    SetActivity("Connecting to " + host_ + "....");
    const update::TDownloadResult result = update::DownloadUpdateFile(
        *ftpClient_, updatePath_,
        [this](std::int64_t size) {
            pbUpdate_->setMaximum(static_cast<int>(std::clamp<std::int64_t>(size, 1, INT32_MAX)));
            pbUpdate_->setValue(0);
        },
        [this] { return abortRequested_; },
        {ConfigData ? ConfigData->MaxUpdateSize : update::TDownloadLimits().MaxSize});
    switch (result) {
    case update::TDownloadResult::Downloaded:
        return true;
    case update::TDownloadResult::NoConnection: {
        const std::string reason = PlainReason(ftpClient_->RequestResult());
        MessageDlg("Unable to connect to " + host_ + (reason.empty() ? "" : " (" + reason + ")") +
                       ".\r\nPlease try again later.",
                   TMsgDlgType::mtInformation, platform::mbOK);
        break;
    }
    case update::TDownloadResult::NoSize:
        MessageDlg("Unable to retrieve update file size", TMsgDlgType::mtError, platform::mbOK);
        break;
    case update::TDownloadResult::Cancelled:
        MessageDlg("The download was cancelled. Nothing was merged.", TMsgDlgType::mtWarning,
                   platform::mbOK);
        break;
    case update::TDownloadResult::Incomplete:
        MessageDlg("The update file did not arrive complete. Nothing was merged.\r\nPlease try "
                   "again later.",
                   TMsgDlgType::mtWarning, platform::mbOK);
        break;
    case update::TDownloadResult::NotStored:
        MessageDlg("Unable to store the update file:\r\n" + updatePath_, TMsgDlgType::mtError,
                   platform::mbOK);
        break;
    case update::TDownloadResult::TooLarge:
        MessageDlg(update::kUpdateTooLargeText, TMsgDlgType::mtError, platform::mbOK);
        break;
    case update::TDownloadResult::OverLimit:
        MessageDlg(update::kUpdateOverLimitText, TMsgDlgType::mtError, platform::mbOK);
        break;
    case update::TDownloadResult::TimedOut:
        MessageDlg(update::kUpdateTimedOutText, TMsgDlgType::mtWarning, platform::mbOK);
        break;
    }
    SetActivity("");
    return false;
}

void TfrmFtp::Merge() {
    btnCancel_->setEnabled(false);
    const std::string path =
        updateSource_ == update::usUpdateServer ? updatePath_ : febLocalFile_->text().toStdString();
    // A failed read or save is shown like any other error; the window closes all the same.
    platform::Guarded([&] {
        if (ConfigData) update::MergeUpdateFile(path, updateSource_, *ConfigData, log_, *this);
    });
    closeAsked_ = true;
}

void TfrmFtp::btnCancelClick() {
    const TFtpSessionState state = ftpClient_->State();
    if (running_ && state != ftpStReady && state != ftpStNotConnected) {
        abortRequested_ = true;
        return;
    }
    close();
}

void TfrmFtp::closeEvent(QCloseEvent* event) {
    if (running_) {
        // Not under the running sequence's feet: stop the download and close at its end.
        abortRequested_ = true;
        closeAsked_ = true;
        event->ignore();
        return;
    }
    event->accept();
    if (OnClosed) {
        const auto closed = std::move(OnClosed);
        OnClosed = nullptr;
        platform::Guarded(closed);
    }
}

void TfrmFtp::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        platform::ShowHelpContext(kHelpContext);
        return;
    }
    // Esc is Cancel, not an immediate reject that would skip the rules above.
    if (event->key() == Qt::Key_Escape) {
        if (btnCancel_->isEnabled()) platform::Guarded([&] { btnCancelClick(); });
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmFtp::Log(const std::string& text) {
    platform::Guarded([&] { log_.AddLine("", "", text); });
}

void TfrmFtp::SetActivity(const std::string& text) {
    lblActivity_->setText(platform::WidgetText(text));
}

void TfrmFtp::StartProgress(int max) {
    pbUpdate_->setRange(0, std::max(max, 1));
    pbUpdate_->setValue(0);
}

void TfrmFtp::StepProgress() {
    pbUpdate_->setValue(std::min(pbUpdate_->value() + 1, pbUpdate_->maximum()));
}

void TfrmFtp::SetBusyCursor(bool busy) {
    if (busy == busyCursor_) return;
    busyCursor_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfrmFtp::EnableStartAndCancel() {
    btnStart_->setEnabled(true);
    btnCancel_->setEnabled(true);
}

bool TfrmFtp::Confirm(const std::string& text) {
    return MessageDlg(text, TMsgDlgType::mtConfirmation, platform::mbYes | platform::mbNo) ==
           platform::mrYes;
}

void TfrmFtp::ShowError(const std::string& text) {
    MessageDlg(text, TMsgDlgType::mtError, platform::mbOK);
}

void TfrmFtp::ShowInformation(const std::string& text) {
    MessageDlg(text, TMsgDlgType::mtInformation, platform::mbOK);
}
