#pragma once

// A name service of the test's own: while one exists, every lookup of the code under test
// is answered from its table, and every other name is "host not found", so no test sends a
// query off the machine.

#include "net/HostLookup.h"

#include <QHostAddress>

#include <initializer_list>
#include <map>
#include <string>

namespace testsupport {

class LocalResolver {
  public:
    // names: host name -> its addresses, IPv4 or IPv6, separated by blanks and answered in
    // that order ("::1 127.0.0.1"); a lookup of one of the addresses answers the name.
    explicit LocalResolver(
        std::initializer_list<std::pair<const std::string, std::string>> names = {})
        : names_(names) {
        SetHostLookupOverride([this](const QString& name) { return Answer(name.toStdString()); });
    }
    ~LocalResolver() { SetHostLookupOverride({}); }
    LocalResolver(const LocalResolver&) = delete;
    LocalResolver& operator=(const LocalResolver&) = delete;

  private:
    QHostInfo Answer(const std::string& name) const {
        QHostInfo info;
        info.setHostName(QString::fromStdString(name));
        if (const auto it = names_.find(name); it != names_.end()) {
            QList<QHostAddress> addresses;
            for (const QString& a :
                 QString::fromStdString(it->second).split(' ', Qt::SkipEmptyParts))
                addresses.append(QHostAddress(a));
            info.setAddresses(addresses);
            return info;
        }
        for (const auto& [host, addresses] : names_) {
            if ((" " + addresses + " ").find(" " + name + " ") == std::string::npos) continue;
            info.setHostName(QString::fromStdString(host));
            return info;
        }
        info.setError(QHostInfo::HostNotFound);
        return info;
    }

    std::map<std::string, std::string> names_;
};

} // namespace testsupport
