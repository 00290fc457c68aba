#pragma once

#include "net/Pop3Prot.h"

#include <cstdint>
#include <functional>

namespace testservers {

// Drives a header scan on the client the way the scan does, each request started from
// OnRequestDone of the one before: USER, PASS, STAT, TOP n 0 for every message, QUIT.
// `done` runs after QUIT or after the first request that fails. The OnRequestDone handler
// installed before, if any, still sees every request first. Start it with Connect().
inline void ChainHeaderScan(TCustomPop3Cli& client, std::function<void()> done) {
    client.OnRequestDone = [before = client.OnRequestDone, done = std::move(done)](
                               TCustomPop3Cli* c, TPop3Request rq, std::uint16_t error) {
        if (before) before(c, rq, error);
        if (error != 0 || rq == pop3Quit) return done();
        switch (rq) {
        case pop3Connect:
            return c->User();
        case pop3User:
            return c->Pass();
        case pop3Pass:
            return c->Stat();
        case pop3Stat:
        case pop3Top:
            if (c->MsgNum() >= c->MsgCount() || (rq == pop3Stat && c->MsgCount() == 0))
                return c->Quit();
            c->SetMsgNum(rq == pop3Stat ? 1 : c->MsgNum() + 1);
            c->SetMsgLines(0);
            return c->Top();
        default:
            return done();
        }
    };
}

} // namespace testservers
