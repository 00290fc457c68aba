// The last check's results and "Eat marked": the results of every account checked are kept
// when the check ends, the results window shows them (by itself after a Check Only that
// found spam), and "Eat marked" deletes the marked messages account by account in sessions
// of their own, under the check lock.

#include "formMain.h"

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/Pop3Prot.h"
#include "platform/ErrorReport.h"
#include "screening/CheckLock.h"
#include "screening/Pop3Settings.h"
#include "screening/ScanSession.h"
#include "secrets/SecretStore.h"
#include "signin/AccessToken.h"

#include <QTimer>

#include <algorithm>

void TfrmMain::ScanEnded() {
    if (eatMarked_) {
        eatMarked_->checked += session_->CheckedCount();
        eatMarked_->eaten += session_->EatenCount();
        eatMarked_->notFound += session_->MarkedNotFound();
        if (!session_->ReachedReport() || session_->ErrorCount() > 0) eatMarked_->failed = true;
        eatMarked_->current =
            eatMarked_->stopped ? eatMarked_->groups.size() : eatMarked_->current + 1;
        // Posted: the session is still on its way out of its last event.
        QTimer::singleShot(0, this, [this] { platform::Guarded([this] { EatNextMarked(); }); });
        return;
    }
    // The first account of a check starts the list afresh.
    if (!round_ || round_->current == 0) lastResults_.clear();
    lastResults_.push_back({*ConfigData, session_->Results()});
    const bool checkOnly = !session_->EatMode();
    AccountScanEnded();
    if (round_) return; // more accounts to come
    const bool spam = std::any_of(lastResults_.begin(), lastResults_.end(), [](const auto& g) {
        return std::any_of(g.results.begin(), g.results.end(),
                           [](const auto& r) { return !r.Verdict.Passed(); });
    });
    if (resultsWindow_)
        resultsWindow_->ShowResults(lastResults_);
    else if (checkOnly && spam)
        LastCheckResults1Click();
}

void TfrmMain::LastCheckResults1Click() {
    if (!resultsWindow_) {
        resultsWindow_ = new TfrmResults(this);
        resultsWindow_->setAttribute(Qt::WA_DeleteOnClose);
        resultsWindow_->OnEatMarked = [this](std::vector<TResultGroup> marked) {
            EatMarked(std::move(marked));
        };
    }
    resultsWindow_->ShowResults(lastResults_);
    resultsWindow_->show();
    resultsWindow_->raise();
    resultsWindow_->activateWindow();
}

void TfrmMain::EatMarked(std::vector<TResultGroup> marked) {
    if (readingPassword_ || round_ || eatMarked_ || checkLock_ || session_->Busy())
        return resultsWindow_->SetReport("A check is running - try again when it has ended");
    auto lock = std::make_unique<screening::TCheckLock>();
    if (!lock->TryLock()) return resultsWindow_->SetReport(lock->BusyText());
    checkLock_ = std::move(lock);
    eatMarked_.emplace();
    eatMarked_->groups = std::move(marked);
    eatMarked_->before = *ConfigData;
    resultsWindow_->SetReport("Eating the marked messages...");
    EatNextMarked();
}

void TfrmMain::EatNextMarked() {
    TEatMarkedRun& run = *eatMarked_;
    if (run.current == run.groups.size()) return EatMarkedDone();
    ConfigData->UseAccount(run.groups[run.current].account);
    screening::ApplyPop3Settings(*pop3Client_, *ConfigData);
    readingPassword_ = true;
    SetScanCommandsEnabled(false);
    SetScanModeChecks(false, true);
    signin::ReadLoginSecret(*ConfigData, this, [this](const secrets::TSecret& password) {
        readingPassword_ = false;
        platform::Guarded([&] {
            if (eatMarked_->stopped) return EatMarkedDone(); // Stop while the password was read
            if (!password.ok) {
                logFile_->AddLine("", "", ConfigData->LinePrefix + password.error);
                eatMarked_->failed = true;
                ++eatMarked_->current;
                return EatNextMarked();
            }
            pop3Client_->SetPassWord(password.secret);
            session_->StartEatMarked(eatMarked_->groups[eatMarked_->current].results);
        });
    });
}

void TfrmMain::EatMarkedDone() {
    const TEatMarkedRun run = std::move(*eatMarked_);
    eatMarked_.reset();
    checkLock_.reset();
    ConfigData->UseAccount(run.before);
    screening::ApplyPop3Settings(*pop3Client_, *ConfigData);
    SetScanCommandsEnabled(true);
    SetScanModeChecks(false, false);
    // Each account's session showed its own figures; several add up as a round's do.
    if (run.groups.size() > 1)
        SetStatusBar("Last Results - " + screening::TotalsText(run.checked, 0, run.eaten));
    // The message numbers have changed: the list no longer tells what is on the server.
    lastResults_.clear();
    if (!resultsWindow_) return;
    resultsWindow_->ShowResults(lastResults_);
    resultsWindow_->SetReport("Eat marked: " + std::to_string(run.eaten) + " eaten, " +
                              std::to_string(run.notFound) + " marked messages no longer found" +
                              (run.stopped  ? " - stopped"
                               : run.failed ? " - errors on the way: see the status bar and the log"
                                            : ""));
}
