#include "net/Transport.h"

TSocketTransport::TSocketTransport() : socket_(std::make_unique<TTlsWSocket>()) {
    socket_->OnDnsLookupDone = [this](TCustomWSocket*, std::uint16_t e) {
        if (OnLookupDone) OnLookupDone(e);
    };
    socket_->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
        if (OnConnected) OnConnected(e);
    };
    socket_->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t) {
        if (OnDataAvailable) OnDataAvailable();
    };
    socket_->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) {
        if (OnClosed) OnClosed(e);
    };
}

TSocketTransport::~TSocketTransport() {
    // The socket closes itself as it goes; nothing of that may reach a half-destroyed owner.
    socket_->OnSessionClosed = nullptr;
    socket_->OnDataAvailable = nullptr;
    socket_->OnSessionConnected = nullptr;
    socket_->OnDnsLookupDone = nullptr;
}

void TSocketTransport::Secure(TSecurity security, const std::string& host,
                              const std::string& caFile) {
    socket_->SetSecurity(security);
    socket_->SetTlsHost(host);
    socket_->SetCAFile(caFile);
}

void TSocketTransport::SetPort(const std::string& port) {
    // Converted while the socket is closed; an open one takes it at its next connection.
    port_ = port;
    if (socket_->State() == wsClosed) socket_->SetPort(port);
}

void TSocketTransport::Lookup(const std::string& host) {
    socket_->DnsLookup(host);
}

void TSocketTransport::Connect() {
    socket_->SetAddr(socket_->DnsResult());
    socket_->SetProto("tcp");
    socket_->SetPort(port_);
    socket_->Connect();
}

int TSocketTransport::Receive(char* buffer, int size) {
    return socket_->Receive(buffer, size);
}

void TSocketTransport::Send(const std::string& bytes) {
    socket_->SendStr(bytes);
}

void TSocketTransport::Close() {
    socket_->Close();
}

void TSocketTransport::Abort() {
    socket_->Abort();
}

bool TSocketTransport::Closed() const {
    return socket_->State() == wsClosed;
}

int TSocketTransport::LastError() const {
    return socket_->LastError();
}

std::string TSocketTransport::TlsError() const {
    return socket_->TlsError();
}
