#include "net/HostLookup.h"

#include <QHostAddress>
#include <QMetaMethod>
#include <QPointer>

#include <netdb.h>
#include <sys/socket.h>

namespace {

THostLookupFn lookupOverride;
// Ids of the answers given here, apart from those of the name service, which start low.
int nextOverrideId = 1 << 30;

} // namespace

int StartHostLookup(const QString& name, QObject* receiver, const char* member) {
    if (!lookupOverride) return QHostInfo::lookupHost(name, receiver, member);
    QHostInfo info = lookupOverride(name);
    info.setLookupId(nextOverrideId++);
    // SLOT() puts a type code before the signature.
    const QMetaObject* meta = receiver->metaObject();
    const QMetaMethod slot =
        meta->method(meta->indexOfSlot(QMetaObject::normalizedSignature(member + 1)));
    // A call posted to the receiver is dropped with it.
    QMetaObject::invokeMethod(
        receiver, [receiver, slot, info] { slot.invoke(receiver, Q_ARG(QHostInfo, info)); },
        Qt::QueuedConnection);
    return info.lookupId();
}

std::optional<in_addr> ResolveHostNow(const std::string& name) {
    if (lookupOverride) {
        const QHostInfo info = lookupOverride(QString::fromStdString(name));
        for (const QHostAddress& address : info.addresses()) {
            if (address.protocol() != QAbstractSocket::IPv4Protocol) continue;
            in_addr a{};
            a.s_addr = htonl(address.toIPv4Address());
            return a;
        }
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
    const in_addr a = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return a;
}

void SetHostLookupOverride(THostLookupFn fn) {
    lookupOverride = std::move(fn);
}
