#include "support/FakeTransport.h"

#include <QMetaObject>

#include <algorithm>
#include <cstring>

namespace testsupport {

FakeTransport::FakeTransport() = default;
FakeTransport::~FakeTransport() = default;

FakeTransport& FakeTransport::Add(Op op, const std::string& text) {
    steps_.push_back({op, text});
    if (connected_) Play();
    return *this;
}

FakeTransport& FakeTransport::ServerSends(const std::string& line) {
    return Add(Op::Send, line + "\r\n");
}
FakeTransport& FakeTransport::ServerSendsRaw(const std::string& bytes) {
    return Add(Op::Send, bytes);
}
FakeTransport& FakeTransport::ServerSendsBytewise(const std::string& bytes) {
    return Add(Op::SendBytewise, bytes);
}
FakeTransport& FakeTransport::ClientSends(const std::string& line) {
    return Add(Op::Expect, line);
}
FakeTransport& FakeTransport::ClientStartsTls() {
    return Add(Op::StartTls, "");
}
FakeTransport& FakeTransport::ServerCloses() {
    return Add(Op::Close, "");
}

std::string FakeTransport::Describe(std::size_t index) const {
    const Step& s = steps_[index];
    const std::string n = "step " + std::to_string(index + 1) + " (";
    switch (s.op) {
    case Op::Expect:
        return n + "client sends '" + s.text + "')";
    case Op::Close:
        return n + "server closes)";
    case Op::StartTls:
        return n + "client starts TLS)";
    default:
        return n + "server sends '" + s.text + "')";
    }
}

std::string FakeTransport::Unplayed() const {
    return next_ < steps_.size() ? Describe(next_) : "";
}

// Dropped when Abort comes first.
void FakeTransport::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        &context_,
        [this, gen = generation_, fn = std::move(fn)] {
            if (gen == generation_) fn();
        },
        Qt::QueuedConnection);
}

void FakeTransport::Lookup(const std::string& host) {
    host_ = host;
    Post([this] {
        if (OnLookupDone) OnLookupDone(lookupError_);
    });
}

void FakeTransport::Connect() {
    Post([this] {
        connected_ = true;
        if (OnConnected) OnConnected(0);
        Play();
    });
}

void FakeTransport::Play() {
    while (connected_ && next_ < steps_.size() && steps_[next_].op != Op::Expect &&
           steps_[next_].op != Op::StartTls) {
        const Step& s = steps_[next_++];
        if (s.op == Op::Close) {
            // Once what was sent before it has been read.
            closing_ = true;
            if (chunks_.empty()) Post([this] { Deliver(); });
            return;
        }
        if (s.op == Op::Send) {
            chunks_.push_back(s.text);
        } else {
            for (char c : s.text)
                chunks_.emplace_back(1, c);
        }
        Post([this] { Deliver(); });
    }
}

void FakeTransport::Deliver() {
    if (!connected_) return;
    if (chunks_.empty()) {
        if (closing_) Drop();
        return;
    }
    if (OnDataAvailable) OnDataAvailable();
    // The close follows once the client has dealt with the last bytes.
    if (chunks_.empty() && closing_) Post([this] { Deliver(); });
}

int FakeTransport::Receive(char* buffer, int size) {
    if (!connected_ || chunks_.empty() || size <= 0) return -1;
    std::string& chunk = chunks_.front();
    const std::size_t n = std::min(chunk.size(), static_cast<std::size_t>(size));
    std::memcpy(buffer, chunk.data(), n);
    chunk.erase(0, n);
    if (chunk.empty()) chunks_.pop_front();
    if (!chunks_.empty()) Post([this] { Deliver(); }); // like a socket: readable while data waits
    return static_cast<int>(n);
}

int FakeTransport::ReceiveArrived(char* buffer, int size) {
    return std::max(Receive(buffer, size), 0);
}

void FakeTransport::StartTls() {
    if (next_ < steps_.size() && steps_[next_].op == Op::StartTls) {
        ++next_;
    } else {
        failures_.push_back("client started TLS at " +
                            (next_ < steps_.size() ? Describe(next_) : "the end"));
    }
    Post([this] {
        if (OnTlsDone) OnTlsDone(tlsError_.empty() ? 0 : kTlsFailure);
        if (tlsError_.empty()) Play();
    });
}

void FakeTransport::Send(const std::string& bytes) {
    partial_ += bytes;
    for (std::size_t end; (end = partial_.find("\r\n")) != std::string::npos;) {
        const std::string line = partial_.substr(0, end);
        partial_.erase(0, end + 2);
        sent_.push_back(line);
        if (next_ < steps_.size() && steps_[next_].op == Op::Expect && steps_[next_].text == line) {
            ++next_;
            Play();
        } else {
            failures_.push_back("client sent '" + line + "' at " +
                                (next_ < steps_.size() ? Describe(next_) : "the end"));
        }
    }
}

void FakeTransport::Drop() {
    if (!connected_) return;
    connected_ = false;
    closing_ = false;
    chunks_.clear();
    if (OnClosed) OnClosed(0);
}

void FakeTransport::Close() {
    Post([this] { Drop(); });
}

void FakeTransport::Abort() {
    ++generation_;
    Drop();
}

} // namespace testsupport
