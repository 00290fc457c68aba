#include "net/Pop3Sasl.h"

#include "net/LineFramer.h"
#include "platform/Trim.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <netdb.h>

namespace {

// The user in OAUTHBEARER's GS2 header is a saslname: "," and "=" would end its field.
std::string SaslName(const std::string& user) {
    std::string name;
    for (char c : user) {
        if (c == ',')
            name += "=2C";
        else if (c == '=')
            name += "=3D";
        else
            name += c;
    }
    return name;
}

} // namespace

std::optional<std::string> SaslInitialResponse(const std::string& mechanism,
                                               const std::string& user, const std::string& secret,
                                               const std::string& host, const std::string& port) {
    constexpr char sep = '\x01'; // between the fields of the OAuth mechanisms
    const std::string bearer = "auth=Bearer " + secret + sep + sep;
    if (mechanism == "PLAIN") return std::string(1, '\0') + user + '\0' + secret;
    if (mechanism == "XOAUTH2") return "user=" + user + sep + bearer;
    if (mechanism == "OAUTHBEARER")
        return "n,a=" + SaslName(user) + "," + sep + "host=" + host + sep + "port=" + port + sep +
               bearer;
    return std::nullopt;
}

std::string SaslBase64(const std::string& bytes) {
    return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

std::string SaslPortNumber(const std::string& port) {
    const std::string text = platform::Trimmed(port);
    if (text.empty() || (text[0] >= '0' && text[0] <= '9')) return text;
    const servent* se = getservbyname(text.c_str(), "tcp");
    return se ? std::to_string(ntohs(static_cast<uint16_t>(se->s_port))) : text;
}

bool Pop3AuthLineFits(const std::string& commandLine) {
    return TLineFramer::Frame(commandLine).size() <= kPop3MaxAuthLine;
}

bool Pop3IsChallenge(const std::string& line) {
    return line == "+" || line.rfind("+ ", 0) == 0;
}

std::string SaslFailureStatus(const std::string& challengeLine) {
    if (!Pop3IsChallenge(challengeLine)) return "";
    const auto decoded = QByteArray::fromBase64Encoding(
        QByteArray::fromStdString(platform::Trimmed(challengeLine.substr(1))),
        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return "";
    const QJsonValue status = QJsonDocument::fromJson(*decoded).object().value("status");
    if (status.isDouble()) return std::to_string(status.toInteger());
    return TLineFramer::OneLine(status.toString().toStdString());
}
