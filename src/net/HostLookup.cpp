#include "net/HostLookup.h"
#include "net/SockAddr.h"

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

std::vector<std::string> ResolveHostNow(const std::string& name) {
    std::vector<std::string> found;
    if (lookupOverride) {
        for (const QHostAddress& address : lookupOverride(QString::fromStdString(name)).addresses())
            found.push_back(address.toString().toStdString());
        return found;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return found;
    for (const addrinfo* a = list; a; a = a->ai_next)
        found.push_back(AddrText(a->ai_addr));
    freeaddrinfo(list);
    return found;
}

void SetHostLookupOverride(THostLookupFn fn) {
    lookupOverride = std::move(fn);
}
