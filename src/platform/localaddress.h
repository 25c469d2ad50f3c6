#pragma once

#include <QHostAddress>
#include <QString>

// This machine's IPv4 address in dotted form, as a peer would reach it. When the program
// is bound to one address that address is the answer; otherwise the first IPv4 address
// of a running, non-loopback interface, or 127.0.0.1 when there is none.
QString localIPv4Address(const QHostAddress& boundAddress);
