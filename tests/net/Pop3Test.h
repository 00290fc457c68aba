#pragma once

// Shared by the POP3 client tests: a client wired to a recorder of everything it reports.

#include "net/Pop3Prot.h"
#include "support/NetNames.h"
#include "support/Wait.h"

#include <string>
#include <vector>

namespace pop3test {

struct Done {
    TPop3Request rq;
    std::uint16_t error;
    TPop3State stateInHandler;
};

// Attaches to every event of the client and keeps one chronological log of them, so tests
// can check order ("closed:0" before "done:pop3Top:10004") as well as content.
class Recorder {
  public:
    explicit Recorder(TPop3Cli& cli) {
        cli.OnDisplay = [this](TCustomPop3Cli*, const std::string& m) {
            display.push_back(m);
            events.push_back("display:" + m);
        };
        cli.OnResponse = [this](TCustomPop3Cli*, const std::string& m) { responses.push_back(m); };
        cli.OnStateChange = [this](TCustomPop3Cli* c) { states.push_back(c->State()); };
        cli.OnMessageBegin = [this](TCustomPop3Cli*) { events.push_back("begin"); };
        cli.OnMessageLine = [this](TCustomPop3Cli* c) { lines.push_back(c->LastResponse()); };
        cli.OnMessageEnd = [this](TCustomPop3Cli*) { events.push_back("end"); };
        cli.OnListLine = [this](TCustomPop3Cli* c) {
            list.push_back(std::to_string(c->MsgNum()) + "=" + std::to_string(c->MsgSize()));
        };
        cli.OnUidlLine = [this](TCustomPop3Cli* c) {
            list.push_back(std::to_string(c->MsgNum()) + "=" + c->MsgUidl());
        };
        cli.OnSessionClosed = [this](TCustomPop3Cli*, std::uint16_t e) {
            events.push_back("closed:" + std::to_string(e));
        };
        cli.OnRequestDone = [this](TCustomPop3Cli* c, TPop3Request rq, std::uint16_t e) {
            done.push_back({rq, e, c->State()});
            events.push_back("done:" + testsupport::Name(rq) + ":" + std::to_string(e));
        };
    }

    // Waits until `count` requests in all have ended.
    bool WaitDone(std::size_t count = 1, int timeoutMs = 10000) {
        return testsupport::WaitUntil([&] { return done.size() >= count; }, timeoutMs);
    }
    const Done& Last() const { return done.back(); }

    std::vector<std::string> display, responses, lines, list, events;
    std::vector<TPop3State> states;
    std::vector<Done> done;
};

} // namespace pop3test
