// The POP3 client's SASL login (AUTH): the command, the initial response on the AUTH line or
// on one of its own, and the failure challenge that must be answered before the -ERR comes.

#include "net/Pop3Internal.h"
#include "net/Pop3Prot.h"
#include "net/Pop3Sasl.h"

#include "platform/Trim.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {
// What the trace shows in the place of credentials.
const std::string kMasked = "****";
} // namespace

void TCustomPop3Cli::Auth() {
    if (protocolState_ != pop3WaitingUser) RefuseInvalidNow("-ERR AUTH command invalid now");
    CheckReady();
    CheckConnected();
    std::string mechanism = platform::Trimmed(authMechanism_);
    std::transform(mechanism.begin(), mechanism.end(), mechanism.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string user = platform::Trimmed(userName_);
    const std::string secret = platform::Trimmed(passWord_);
    // Inside base64 a line break would pass, but it would cut a field of the response.
    Pop3RefuseLineBreak(user, kPop3UserName);
    Pop3RefuseLineBreak(secret, kPop3Password);
    const std::optional<std::string> response =
        SaslInitialResponse(mechanism, user, secret, host_, SaslPortNumber(port_));
    if (!response)
        throw Pop3Exception("Unknown authentication mechanism '" + TLineFramer::OneLine(mechanism) +
                            "'");

    if (!combined_) requestType_ = pop3Auth;
    authStatus_.clear();
    channel_.BeginRequest();
    SetState(pop3WaitingResponse);
    const std::string command = "AUTH " + mechanism;
    saslResponse_ = SaslBase64(*response);
    saslInline_ = Pop3AuthLineFits(command + " " + saslResponse_);
    const std::string line = saslInline_ ? command + " " + saslResponse_ : command;
    const std::string trace = saslInline_ ? command + " " + kMasked : command;
    SendExpecting(line, trace,
                  [this](TPendingReply& reply, const std::string&) { return AuthLine(reply); });
}

bool TCustomPop3Cli::AuthLine(TPendingReply& reply) {
    Display("< " + lastResponse_);
    if (!Pop3IsChallenge(lastResponse_)) {
        saslResponse_.clear();
        if (Pop3Positive(lastResponse_)) {
            SetProtocolState(pop3Transaction);
            TriggerRequestDone(0);
        } else {
            TakeErrorMessage(authStatus_.empty() ? lastResponse_
                                                 : lastResponse_ + " (" + authStatus_ + ")");
            TriggerRequestDone(kPop3NegativeReply);
        }
        return true;
    }
    switch (reply.Stage) {
    case asSent:
        // An empty challenge after a response on the AUTH line comes from a server that did
        // not take it there: it asks for it on a line of its own.
        if (!saslInline_ || platform::Trimmed(lastResponse_) == "+") {
            SendSaslLine(reply, asAnswered, std::exchange(saslResponse_, {}), kMasked);
            return false;
        }
        // The response went with AUTH: a mechanism of one step has nothing more to say, so
        // this is the server's refusal.
        [[fallthrough]];
    case asAnswered:
        // The server waits for an answer before it sends its -ERR.
        authStatus_ = SaslFailureStatus(lastResponse_);
        SendSaslLine(reply, asRefused, "", "");
        return false;
    case asRefused:
        SendSaslLine(reply, asCancelled, "*", "*");
        return false;
    default:
        FailAndDrop("-ERR The server does not end the authentication", kPop3NegativeReply);
        return true;
    }
}

void TCustomPop3Cli::SendSaslLine(TPendingReply& reply, TAuthStage stage, const std::string& line,
                                  const std::string& trace) {
    reply.Stage = stage;
    channel_.TraceCommand(trace);
    Send(line);
}
