#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

struct sockaddr;

// Telling the seller's own machine and network apart from the public network, for addresses read
// out of marketplace pages: a hostile page may name "http://127.0.0.1:8080/..." as its description
// and so have the program fetch from a local service and store the reply in the table.

// An IP address: 4 bytes (IPv4) or 16 bytes (IPv6).
struct TIpAddress {
    QByteArray Bytes;
};

// The IP address a host spells, in every form name resolution takes as an address rather than a
// name: dotted IPv4 whose parts may be decimal, octal ("0177") or hexadecimal ("0x7f"), with fewer
// than four parts ("127.1", "2130706433"), and IPv6 with or without its brackets. Nothing for a name.
std::optional<TIpAddress> IpLiteral(const QString& host);

// Whether an address belongs to this machine or a private network: unspecified (0.0.0.0/8, ::),
// loopback (127/8, ::1), private (10/8, 172.16/12, 192.168/16), link-local (169.254/16, fe80::/10)
// or unique-local (fc00::/7); an IPv4 address inside IPv6 (::ffff:a.b.c.d) counts as itself.
bool IsPrivateAddress(const TIpAddress& address);
// The same for a socket address as the system gives it (IPv4 or IPv6; any other family is no
// address of the public network either).
bool IsPrivateSocketAddress(const sockaddr* address);

// Whether a host (as an address names it, without its port) names this machine or a private
// network by itself, before any name resolution: "localhost" and its subdomains, or an IP literal
// in one of the ranges above. The empty host counts as local.
bool IsLocalHost(const QString& host);
