#include "web/netaddress.h"

#include <QStringList>

#include <cstring>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace {

// One part of a dotted IPv4 address as the system's resolver reads it: "0x" hexadecimal, a leading
// "0" octal, else decimal. Nothing when it is no number.
std::optional<quint64> ipv4Part(const QString& part) {
    if (part.isEmpty())
        return std::nullopt;
    int base = 10;
    QString digits = part;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        digits = digits.mid(2);
        if (digits.isEmpty())
            return quint64(0); // "0x" alone is 0 to the resolver
    } else if (digits.size() > 1 && digits.startsWith(QLatin1Char('0'))) {
        base = 8;
        digits = digits.mid(1);
    }
    // Long runs of digits are no address part (and would overflow).
    if (digits.size() > 12)
        return std::nullopt;
    bool ok = false;
    const quint64 value = digits.toULongLong(&ok, base);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<TIpAddress> ipv4Literal(const QString& host) {
    QStringList parts = host.split(QLatin1Char('.'));
    // A trailing dot ends a fully qualified name; it names the same address.
    if (parts.size() > 1 && parts.last().isEmpty())
        parts.removeLast();
    if (parts.isEmpty() || parts.size() > 4)
        return std::nullopt;
    quint64 values[4] = {};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const std::optional<quint64> v = ipv4Part(parts[i]);
        if (!v)
            return std::nullopt;
        values[i] = *v;
    }
    // The last part fills the bytes the others leave: "127.1" is 127.0.0.1, "2130706433" too.
    const qsizetype leading = parts.size() - 1;
    for (qsizetype i = 0; i < leading; ++i)
        if (values[i] > 255)
            return std::nullopt;
    const int lastBytes = 4 - int(leading);
    if (values[leading] >= (quint64(1) << (8 * lastBytes)))
        return std::nullopt;
    QByteArray bytes(4, '\0');
    for (qsizetype i = 0; i < leading; ++i)
        bytes[i] = char(values[i]);
    for (int b = 0; b < lastBytes; ++b)
        bytes[3 - b] = char((values[leading] >> (8 * b)) & 0xFF);
    return TIpAddress{bytes};
}

std::optional<TIpAddress> ipv6Literal(QString host) {
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    // A zone ("fe80::1%eth0") belongs to the address's link.
    if (const qsizetype zone = host.indexOf(QLatin1Char('%')); zone >= 0)
        host.truncate(zone);
    if (!host.contains(QLatin1Char(':')))
        return std::nullopt;
    const QByteArray text = host.toLatin1();
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, text.constData(), bytes) != 1)
        return std::nullopt;
    return TIpAddress{QByteArray(reinterpret_cast<const char*>(bytes), 16)};
}

bool privateIpv4(const unsigned char* b) {
    return b[0] == 0                               // 0.0.0.0/8, "this network"
           || b[0] == 127                          // loopback
           || b[0] == 10                           // private
           || (b[0] == 172 && (b[1] & 0xF0) == 16) // private 172.16/12
           || (b[0] == 192 && b[1] == 168)         // private
           || (b[0] == 169 && b[1] == 254);        // link-local
}

bool privateIpv6(const unsigned char* b) {
    static const unsigned char zero[16] = {};
    static const unsigned char mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(b, zero, 15) == 0 && (b[15] == 0 || b[15] == 1))
        return true; // :: (unspecified) and ::1 (loopback)
    if (std::memcmp(b, mappedPrefix, 12) == 0 || std::memcmp(b, zero, 12) == 0)
        return privateIpv4(b + 12);                    // IPv4-mapped (and the old IPv4-compatible form)
    return (b[0] & 0xFE) == 0xFC                       // unique-local fc00::/7
           || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80); // link-local fe80::/10
}

} // namespace

std::optional<TIpAddress> IpLiteral(const QString& host) {
    if (std::optional<TIpAddress> v6 = ipv6Literal(host))
        return v6;
    return ipv4Literal(host);
}

bool IsPrivateAddress(const TIpAddress& address) {
    const auto* b = reinterpret_cast<const unsigned char*>(address.Bytes.constData());
    if (address.Bytes.size() == 4)
        return privateIpv4(b);
    if (address.Bytes.size() == 16)
        return privateIpv6(b);
    return true;
}

bool IsPrivateSocketAddress(const sockaddr* address) {
    if (!address)
        return true;
    if (address->sa_family == AF_INET) {
        sockaddr_in v4;
        std::memcpy(&v4, address, sizeof v4);
        return privateIpv4(reinterpret_cast<const unsigned char*>(&v4.sin_addr));
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 v6;
        std::memcpy(&v6, address, sizeof v6);
        return privateIpv6(reinterpret_cast<const unsigned char*>(&v6.sin6_addr));
    }
    return true;
}

bool IsLocalHost(const QString& host) {
    QString name = host.trimmed().toLower();
    while (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty() || name == u"localhost" || name.endsWith(QLatin1String(".localhost")))
        return true;
    const std::optional<TIpAddress> literal = IpLiteral(name);
    return literal && IsPrivateAddress(*literal);
}
