#include "net/Transport.h"

#include "net/TlsWSocket.h"

#include <sys/ioctl.h>

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
    socket_->OnTlsDone = [this](TCustomWSocket*, std::uint16_t e) {
        if (OnTlsDone) OnTlsDone(e);
    };
}

TSocketTransport::~TSocketTransport() {
    // The socket closes itself as it goes; nothing of that may reach a half-destroyed owner.
    socket_->OnTlsDone = nullptr;
    socket_->OnSessionClosed = nullptr;
    socket_->OnDataAvailable = nullptr;
    socket_->OnSessionConnected = nullptr;
    socket_->OnDnsLookupDone = nullptr;
}

void TSocketTransport::Secure(TSecurity security, const std::string& host,
                              const std::string& caFile) {
    socket_->SetTlsFromStart(security == secTls);
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

void TSocketTransport::CancelLookup() {
    socket_->CancelDnsLookup();
}

void TSocketTransport::Connect() {
    // Every address the lookup found, raced in its order; a numeric host gave just the one.
    const std::vector<std::string>& found = socket_->DnsResultList();
    socket_->SetAddrList(found.empty() ? std::vector{socket_->DnsResult()} : found);
    socket_->SetProto("tcp");
    socket_->SetPort(port_);
    socket_->Connect();
}

int TSocketTransport::Receive(char* buffer, int size) {
    return socket_->Receive(buffer, size);
}

int TSocketTransport::ReceiveArrived(char* buffer, int size) {
    return socket_->ReceiveArrived(buffer, size);
}

int TSocketTransport::UnreadBytes() const {
    int unread = 0;
    const int fd = socket_->HSocket();
    return fd >= 0 && ::ioctl(fd, FIONREAD, &unread) == 0 ? unread : 0;
}

void TSocketTransport::Send(const std::string& bytes) {
    socket_->SendStr(bytes);
}

void TSocketTransport::StartTls() {
    socket_->StartTls();
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

bool TSocketTransport::Connected() const {
    return socket_->State() == wsConnected;
}

std::string TSocketTransport::PeerAddr() {
    return socket_->GetPeerAddr();
}

// "0.0.0.0" when the socket has no name.
std::string TSocketTransport::LocalAddr() {
    sockaddr_storage local{};
    int len = sizeof local;
    if (socket_->GetSockName(local, len) != 0) return "0.0.0.0";
    return AddrText(reinterpret_cast<const sockaddr*>(&local));
}

int TSocketTransport::LastError() const {
    return socket_->LastError();
}

std::string TSocketTransport::TlsError() const {
    return socket_->TlsError();
}
