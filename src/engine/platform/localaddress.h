#pragma once

#include <QHostAddress>
#include <QString>

// This machine's IPv4 address in dotted form, as a peer would reach it. When the program
// is bound to one address that address is the answer; otherwise the first IPv4 address
// of a running, non-loopback interface, or 127.0.0.1 when there is none.
QString localIPv4Address(const QHostAddress& boundAddress);

// An address as peers and the address book write it: an IPv4 address reached through an
// IPv6 socket (::ffff:10.0.0.7) in plain dotted form (10.0.0.7).
QString dottedAddress(const QHostAddress& address);

// The address to use of those a host name resolved to: the first IPv4 one, as peers are
// normally written in dotted form; otherwise the first; null when there is none.
QHostAddress preferredAddress(const QList<QHostAddress>& addresses);
