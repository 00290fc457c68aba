// Check Only and Check and Eat over several accounts: each enabled account in turn, under the
// one check lock; the status bar ends with the totals and the accounts that failed.

#include "formMain.h"

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/Pop3Prot.h"
#include "platform/ErrorReport.h"
#include "platform/Exception.h"
#include "platform/WidgetText.h"
#include "screening/CheckLock.h"
#include "screening/Pop3Settings.h"
#include "screening/ScanSession.h"

#include <QLabel>
#include <QTimer>

bool TfrmMain::BeginRound(bool eat) {
    std::vector<TAccountSettings> accounts;
    try {
        accounts = ReadAccounts();
    } catch (const platform::Exception& e) {
        SetStatusBar(e.what());
        return false;
    }
    if (accounts.size() == 1) return true;
    std::erase_if(accounts, [](const TAccountSettings& a) { return !a.Enabled; });
    if (accounts.empty()) {
        SetStatusBar("No account is enabled: enable one in File > Preferences");
        return false;
    }
    round_.emplace();
    round_->accounts = std::move(accounts);
    round_->eat = eat;
    round_->before = *ConfigData;
    UseRoundAccount();
    return true;
}

void TfrmMain::UseRoundAccount() {
    const TAccountSettings& account = round_->accounts[round_->current];
    ConfigData->UseAccount(account);
    round_->failure.clear();
    screening::ApplyPop3Settings(*pop3Client_, *ConfigData);
    // Which account runs: its name before its server, where a long server name cannot hide it.
    lblServerName_->setText(platform::WidgetText(account.AccountName + ": " + pop3Client_->Host()));
}

void TfrmMain::AccountScanEnded(const std::string& passwordError) {
    if (!round_) return checkLock_.reset();
    const std::string& name = round_->accounts[round_->current].AccountName;
    if (!passwordError.empty()) {
        logFile_->AddLine("", "", ConfigData->LinePrefix + passwordError);
        round_->failed.push_back(name + ": " + passwordError);
    } else {
        round_->checked += session_->CheckedCount();
        round_->okd += session_->OKCount();
        round_->eaten += session_->EatenCount();
        if (!session_->ReachedReport() || session_->ErrorCount() > 0)
            round_->failed.push_back(
                name + (round_->failure.empty() ? " failed" : ": " + round_->failure));
    }
    if (round_->stopped || ++round_->current == round_->accounts.size()) return EndRound();
    UseRoundAccount();
    // Posted: the scan that ended is still on its way out of its last event.
    QTimer::singleShot(0, this, [this] {
        platform::Guarded([this] {
            if (round_) StartAccountScan(round_->eat);
        });
    });
}

void TfrmMain::EndRound() {
    const TAccountRound round = std::move(*round_);
    round_.reset();
    checkLock_.reset();
    ConfigData->UseAccount(round.before);
    screening::ApplyPop3Settings(*pop3Client_, *ConfigData);
    lblServerName_->setText(platform::WidgetText(pop3Client_->Host()));
    SetScanCommandsEnabled(true);
    SetScanModeChecks(false, false);
    SetStatusBar("Last Results - " + screening::TotalsText(round.checked, round.okd, round.eaten));
    std::string failed;
    for (const std::string& one : round.failed)
        failed += (failed.empty() ? "" : "; ") + one;
    SetFailure(failed);
}
