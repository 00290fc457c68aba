#pragma once

// The one way to the name service: every host-name lookup of the program passes here, so
// that tests can answer lookups themselves and never send a query off the machine.

#include <QHostInfo>

#include <functional>
#include <string>
#include <vector>

// Answers one lookup at once: of a host name, or of a dotted address for a lookup of the
// name. The answer's error, addresses and host name count; its lookup id does not.
using THostLookupFn = std::function<QHostInfo(const QString& name)>;

// Starts a lookup whose answer reaches `member` of `receiver` (a SLOT taking a QHostInfo)
// from the event loop, and never once the receiver is gone. Returns the answer's lookup id.
int StartHostLookup(const QString& name, QObject* receiver, const char* member);

// The addresses of a host name, IPv6 and IPv4 as text in the system's order (RFC 6724),
// waited for at once; empty when there are none.
std::vector<std::string> ResolveHostNow(const std::string& name);

// Answers every lookup from `fn` instead of the system's name service; an empty function
// restores the name service.
void SetHostLookupOverride(THostLookupFn fn);
