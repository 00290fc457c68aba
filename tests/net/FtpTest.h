#pragma once

// Shared by the FTP client tests: a client wired to a recorder of everything it reports.

#include "net/FtpCli.h"
#include "support/NetNames.h"
#include "support/Wait.h"

#include <QCoreApplication>

#include <string>
#include <vector>

namespace ftptest {

struct Done {
    TFtpRequest rq;
    uint16_t error;
    TFtpSessionState stateInHandler;
};

// Keeps one chronological log of the client's events.
class Recorder {
  public:
    explicit Recorder(TCustomFtpCli& cli) {
        cli.OnDisplay = [this](TCustomFtpCli*, const std::string& m) { display.push_back(m); };
        cli.OnDisplayFile = [this](TCustomFtpCli*, const std::string& m) { file.push_back(m); };
        cli.OnStateChange = [this](TCustomFtpCli* c) { states.push_back(c->State()); };
        cli.OnSessionClosed = [this](TCustomFtpCli*, uint16_t e) {
            events.push_back("closed:" + std::to_string(e));
        };
        cli.OnProgress = [this](TCustomFtpCli*, int32_t count, bool& abort) {
            progress.push_back(count);
            abort = abortAt > 0 && count >= abortAt;
        };
        cli.OnRequestDone = [this](TCustomFtpCli* c, TFtpRequest rq, uint16_t e) {
            done.push_back({rq, e, c->State()});
            events.push_back("done:" + std::to_string(rq) + ":" + std::to_string(e));
        };
    }

    bool WaitDone(std::size_t count = 1, int timeoutMs = 10000) {
        return testsupport::WaitUntil([&] { return done.size() >= count; }, timeoutMs);
    }
    const Done& Last() const { return done.back(); }
    // Whether a display line starts with the text.
    bool Displayed(const std::string& prefix) const {
        for (const auto& d : display)
            if (d.rfind(prefix, 0) == 0) return true;
        return false;
    }

    std::vector<std::string> display, file, events;
    std::vector<TFtpSessionState> states;
    std::vector<int32_t> progress;
    std::vector<Done> done;
    int32_t abortAt = 0; // OnProgress asks to abort once this many bytes are in
};

} // namespace ftptest
