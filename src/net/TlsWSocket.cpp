#include "net/TlsWSocket.h"
#include "net/WinsockErrors.h"

#include "platform/ErrorReport.h"

#include <QMetaObject>
#include <QPointer>

#include <arpa/inet.h>
#include <dirent.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// One TLS record at most; also the read size from the platform socket.
constexpr int kChunk = 16 * 1024 + 512;

bool IsIpAddress(const std::string& Host) {
    unsigned char scratch[sizeof(in6_addr)];
    return inet_pton(AF_INET, Host.c_str(), scratch) == 1 ||
           inet_pton(AF_INET6, Host.c_str(), scratch) == 1;
}

// The reason of the oldest error OpenSSL queued, and the queue emptied.
std::string QueuedReason() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason ? reason : "";
}

// Why a CA file did not load: the file system's reason, or OpenSSL's when the file opens.
std::string CAFileFailure(const std::string& Path) {
    std::string reason = QueuedReason();
    errno = 0;
    if (std::FILE* f = std::fopen(Path.c_str(), "rb"))
        std::fclose(f);
    else
        reason = std::strerror(errno);
    return reason.empty() ? "no certificates in it" : reason;
}

// Whether the folder holds certificates named by their subject's hash ("1a2b3c4d.0"), which
// OpenSSL can look up one at a time.
bool HasHashNames(const std::string& Folder) {
    DIR* d = opendir(Folder.c_str());
    if (!d) return false;
    bool found = false;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() >= 10 && name[8] == '.' &&
            name.find_first_not_of("0123456789abcdef") == 8) {
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

// The system's trust store. A hashed folder (as Debian keeps /etc/ssl/certs) is read lazily,
// one certificate per lookup; the bundle file, which OpenSSL's defaults read in full for
// every connection, costs a hundred times more. Without such a folder, the defaults.
void UseSystemTrust(SSL_CTX* Ctx) {
    // OpenSSL's own variables name other places, as they do for its defaults.
    const char* dir = std::getenv(X509_get_default_cert_dir_env());
    const std::string folder = dir ? dir : X509_get_default_cert_dir();
    const bool lazy = !std::getenv(X509_get_default_cert_file_env()) &&
                      folder.find(':') == std::string::npos && HasHashNames(folder);
    if (!lazy || SSL_CTX_load_verify_dir(Ctx, folder.c_str()) != 1)
        SSL_CTX_set_default_verify_paths(Ctx);
}

} // namespace

void TTlsWSocket::SslDeleter::operator()(ssl_st* S) const {
    SSL_free(S);
}

void TTlsWSocket::SslDeleter::operator()(ssl_ctx_st* C) const {
    SSL_CTX_free(C);
}

TTlsWSocket::TTlsWSocket(QObject* Owner) : TWSocket(Owner) {}

TTlsWSocket::~TTlsWSocket() = default;

void TTlsWSocket::ResetTls() {
    FSsl.reset();
    FCtx.reset();
    SetPhase(phPlain);
    FStartedLater = false;
    FPlain.clear();
    FPlainStart = 0;
    FPeerDone = false;
    ++FConnection;
}

// ---------------------------------------------------------------------------------------
// The owner's calls

void TTlsWSocket::Connect() {
    ResetTls();
    FTlsError.clear();
    TWSocket::Connect();
}

void TTlsWSocket::Close() {
    // A secure session ends with a close alert, so the server can tell it from a cut line.
    if (FPhase == phSecure && FSsl && State() == wsConnected) {
        SSL_shutdown(FSsl.get());
        FlushOut();
    }
    // The owner asked for the close: it is reported as a close, not as a failed handshake.
    ResetTls();
    TWSocket::Close();
}

void TTlsWSocket::Abort() {
    ResetTls();
    TWSocket::Abort();
}

int TTlsWSocket::Send(const void* Data, int Len) {
    if (FPhase == phPlain) return TWSocket::Send(Data, Len);
    if (FPhase != phSecure) {
        // Nothing of the owner's goes out before the connection is secure.
        SetLastError(wsaNotConnected);
        return -1;
    }
    if (Len <= 0) return 0;
    // Memory buffers take everything at once.
    if (SSL_write(FSsl.get(), Data, Len) <= 0) {
        FTlsError = "TLS error: " + QueuedReason();
        SetLastError(kTlsFailure);
        return -1;
    }
    FlushOut();
    return Len;
}

void TTlsWSocket::StartTls() {
    FStartedLater = true;
    if (FPhase != phPlain || State() != wsConnected) return Fail("no plain connection to secure");
    StartHandshake();
}

int TTlsWSocket::Receive(void* Buffer, int BufferSize) {
    if (FPhase == phPlain) return TWSocket::Receive(Buffer, BufferSize);
    // Before the connection is secure the owner has nothing to read.
    const size_t ready = FPhase == phSecure ? PlainWaiting() : 0;
    const size_t n = std::min(ready, static_cast<size_t>(std::max(BufferSize, 0)));
    if (n == 0) {
        SetLastError(wsaWouldBlock);
        return -1;
    }
    std::memcpy(Buffer, FPlain.data() + FPlainStart, n);
    FPlainStart += n;
    if (FPlainStart == FPlain.size()) {
        FPlain.clear();
        FPlainStart = 0;
    }
    return static_cast<int>(n);
}

int TTlsWSocket::ReceiveArrived(void* Buffer, int BufferSize) {
    const int32_t waiting = RcvdCount();
    if (FPhase == phPlain)
        return waiting > 0 ? std::max(TWSocket::Receive(Buffer, std::min(BufferSize, waiting)), 0)
                           : 0;
    if (FPhase != phSecure) return 0;
    if (PlainWaiting() == 0 && waiting > 0 && !FPeerDone) {
        char raw[kChunk];
        const int n = TWSocket::Receive(raw, std::min<int>(sizeof raw, waiting));
        if (n > 0) TakeRaw(raw, n);
        if (FPeerDone) ClosePeerDoneLater();
    }
    return std::max(Receive(Buffer, BufferSize), 0);
}

// The session ended in bytes read outside a read event: no event may follow them (a close
// alert on a connection the server keeps open), so the close comes from the loop.
void TTlsWSocket::ClosePeerDoneLater() {
    QMetaObject::invokeMethod(
        this,
        [this, connection = FConnection] {
            platform::Guarded([&] {
                if (connection != FConnection || !FPeerDone || PlainWaiting() > 0) return;
                ResetTls();
                TWSocket::Close();
            });
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------------------
// The platform socket's events

void TTlsWSocket::TriggerSessionConnected(uint16_t Error) {
    if (Error != 0 || FPhase != phPlain || !FTlsFromStart)
        return TWSocket::TriggerSessionConnected(Error);
    // Connected, but not yet secure: the owner hears of it once it is.
    StartHandshake();
}

bool TTlsWSocket::TriggerDataAvailable(uint16_t Error) {
    if (FPhase == phPlain) return TWSocket::TriggerDataAvailable(Error);
    QPointer<TTlsWSocket> self(this);
    const uint64_t connection = FConnection;
    // Reading the platform socket also lets its next read event come.
    char raw[kChunk];
    const int n = TWSocket::Receive(raw, sizeof raw);
    if (n <= 0) return true; // the platform socket's error or end ends its read loop
    TakeRaw(raw, n);
    if (!self || connection != FConnection) return true;
    OfferPlain(Error);
    if (!self || connection != FConnection) return true;
    if (FPeerDone && PlainWaiting() == 0) {
        // The session is over (close alert or a broken record): a close, as on a plain line.
        ResetTls();
        TWSocket::Close();
        return true;
    }
    SetLastError(0); // the owner's reads came from our buffer; the platform socket is fine
    return true;
}

void TTlsWSocket::TriggerSessionClosed(uint16_t Error) {
    if (FPhase == phHandshake)
        Fail("the server closed the connection during the handshake");
    else
        TWSocket::TriggerSessionClosed(Error);
}

void TTlsWSocket::TriggerDataSent(uint16_t Error) {
    // Handshake records are ours; the owner hears only of what it sent itself.
    if (FPhase == phPlain || FPhase == phSecure) TWSocket::TriggerDataSent(Error);
}

// ---------------------------------------------------------------------------------------
// Turning raw bytes into plain text

void TTlsWSocket::TakeRaw(const char* Data, int Len) {
    if (FPhase != phHandshake && FPhase != phSecure) return;
    BIO_write(SSL_get_rbio(FSsl.get()), Data, Len);
    if (FPhase == phHandshake)
        ContinueHandshake();
    else
        ReadDecrypted();
}

void TTlsWSocket::StartHandshake() {
    ERR_clear_error();
    FCtx.reset(SSL_CTX_new(TLS_client_method()));
    if (!FCtx) return Fail(QueuedReason());
    SSL_CTX* ctx = FCtx.get();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    UseSystemTrust(ctx);
    ERR_clear_error(); // a system without a trust store is no failure in itself
    if (!FCAFile.empty() && SSL_CTX_load_verify_locations(ctx, FCAFile.c_str(), nullptr) != 1)
        return Fail("cannot read the CA file " + FCAFile + " (" + CAFileFailure(FCAFile) + ")");
    if (FTlsHost.empty()) return Fail("no server name to check the certificate against");
    FSsl.reset(SSL_new(ctx));
    if (!FSsl) return Fail(QueuedReason());
    SSL* ssl = FSsl.get();
    SSL_set_bio(ssl, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
    const bool ok = IsIpAddress(FTlsHost)
                        ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), FTlsHost.c_str()) == 1
                        : SSL_set_tlsext_host_name(ssl, FTlsHost.c_str()) == 1 &&
                              SSL_set1_host(ssl, FTlsHost.c_str()) == 1;
    if (!ok) return Fail("cannot check the certificate against " + FTlsHost);
    SSL_set_connect_state(ssl);
    SetPhase(phHandshake);
    ContinueHandshake();
}

void TTlsWSocket::ContinueHandshake() {
    const int r = SSL_do_handshake(FSsl.get());
    if (r != 1) {
        const int e = SSL_get_error(FSsl.get(), r);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            FlushOut();
            return;
        }
        return Fail(SslFailure(r));
    }
    FlushOut();
    SetPhase(phSecure);
    // Application data may have come with the last handshake record.
    ReadDecrypted();
    ReportHandshake(0);
}

// The owner hears how the handshake went in the event it waits for.
void TTlsWSocket::ReportHandshake(uint16_t Error) {
    if (!FStartedLater) return TWSocket::TriggerSessionConnected(Error);
    if (auto handler = OnTlsDone) handler(this, Error);
}

void TTlsWSocket::ReadDecrypted() {
    char buf[kChunk];
    for (;;) {
        const int r = SSL_read(FSsl.get(), buf, sizeof buf);
        if (r > 0) {
            FPlain.append(buf, static_cast<size_t>(r));
            continue;
        }
        const int e = SSL_get_error(FSsl.get(), r);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
            // A close alert, or a record that does not decrypt: either ends the session.
            if (e != SSL_ERROR_ZERO_RETURN) FTlsError = "TLS error: " + SslFailure(r);
            FPeerDone = true;
        }
        break;
    }
    ERR_clear_error();
    FlushOut(); // reading may answer the server (a key update)
}

// What the TLS engine has to send goes out through the platform socket.
void TTlsWSocket::FlushOut() {
    if (!FSsl || State() != wsConnected) return;
    BIO* out = SSL_get_wbio(FSsl.get());
    char buf[kChunk];
    int n;
    while ((n = BIO_read(out, buf, sizeof buf)) > 0)
        TWSocket::Send(buf, n);
}

// Hands the plain text to the owner's handler until it is all taken, or the handler takes
// nothing (what is left then waits for the next read event).
void TTlsWSocket::OfferPlain(uint16_t Error) {
    QPointer<TTlsWSocket> self(this);
    const uint64_t connection = FConnection;
    while (PlainWaiting() > 0 && FPhase == phSecure) {
        const size_t before = PlainWaiting();
        if (!TWSocket::TriggerDataAvailable(Error)) {
            FPlain.clear(); // nobody to read it
            FPlainStart = 0;
            break;
        }
        if (!self || connection != FConnection) return;
        if (PlainWaiting() == before) break;
    }
}

// The connection cannot be secured: the owner's wait for it ends with kTlsFailure, and the
// connection is closed. Nothing of the owner's was sent over it since the handshake began.
void TTlsWSocket::Fail(const std::string& Reason) {
    FTlsError = "TLS error: " + Reason;
    FlushOut(); // the alert that tells the server why, when there is one
    SetPhase(phFailed);
    QPointer<TTlsWSocket> self(this);
    const uint64_t connection = FConnection;
    ReportHandshake(kTlsFailure);
    if (!self || connection != FConnection) return;
    if (State() != wsClosed) Close();
}

// "certificate verify failed (self-signed certificate)", "wrong version number", ...
std::string TTlsWSocket::SslFailure(int Result) {
    const int e = SSL_get_error(FSsl.get(), Result);
    std::string reason = QueuedReason();
    if (e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && reason.empty()))
        return "the server ended the session";
    if (reason.empty()) reason = "handshake failed";
    const long verify = SSL_get_verify_result(FSsl.get());
    if (verify != X509_V_OK)
        reason += std::string(" (") + X509_verify_cert_error_string(verify) + ")";
    return reason;
}
