// The engine under the clients, on its own: replies go to their handlers in the order they
// were expected, with several in flight; lines nothing waits for go aside; a line past the
// limit is reported.

#include "net/CommandChannel.h"

#include "support/FakeTransport.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandChannel, RepliesGoToTheirHandlersInTheOrderExpected) {
    QObject owner;
    auto* server = new testsupport::FakeTransport;
    TCommandChannel channel(owner, std::unique_ptr<TTransport>(server), 16, true);
    std::vector<std::string> seen;
    channel.OnTrace = [&](const std::string& text) { seen.push_back(text); };
    channel.OnUnexpected = [&](const std::string& line) { seen.push_back("aside " + line); };
    channel.OnLineTooLong = [&] { seen.push_back("too long"); };
    server->ServerSends("+OK hi").ClientSends("ONE").ClientSends("TWO");
    server->ServerSendsRaw("+OK one\r\n+OK two\r\nline\n.\r\n+OK stray\r\n" + std::string(17, 'x'));
    server->Connect();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return seen.size() == 1; }));

    channel.ExpectReply([&](TPendingReply&, const std::string& line) {
        seen.push_back("1: " + line);
        return true;
    });
    channel.ExpectReply([&](TPendingReply& reply, const std::string& line) {
        seen.push_back("2." + std::to_string(reply.Stage++) + ": " + line);
        return line == ".";
    });
    for (const char* command : {"ONE", "TWO"}) {
        channel.TraceCommand(command);
        channel.SendCommand(command);
    }
    ASSERT_TRUE(testsupport::WaitUntil([&] { return seen.back() == "too long"; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"aside +OK hi", "> ONE", "> TWO", "1: +OK one",
                                              "2.0: +OK two", "2.1: line", "2.2: .",
                                              "aside +OK stray", "too long"}));
    for (const auto& f : server->Failures())
        ADD_FAILURE() << f;
}

} // namespace
