#pragma once

#include "support/testplatform.h"
#include "support/transcriptpieces.h"
#include "window/mainwindow.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QUdpSocket>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <list>
#include <memory>

// Windows and plain sockets that talk to each other over loopback on the presence and
// chat port. Every address used here lies in 127.0.0.20 to 127.0.0.39.

constexpr quint16 kChatPort = 1071;

inline QHostAddress loopback(int last)
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(last));
}

struct Entry {
    QString name;
    QString address;
};

// A window with its own platform and settings, loaded with an address book and a save
// folder, so that start-up asks nothing. Its clock stands still: the timed announcements
// come only as a test advances it.
class Peer
{
public:
    Peer(const QHostAddress& address, const QList<Entry>& entries)
    {
        SettingsStore& settings = platform_.settings();
        settings.write(QStringLiteral("Settings"), QStringLiteral("SaveDir"),
                       platform_.folder() + QStringLiteral("/"));
        for (int slot = 0; slot < entries.size(); ++slot) {
            const QString section = QStringLiteral("IPaddress%1").arg(slot);
            settings.write(section, QStringLiteral("Name"), entries[slot].name);
            settings.write(section, QStringLiteral("IPaddress"), entries[slot].address);
        }
        window_ = std::make_unique<Main>(platform_.platform(), address);
        loaded_ = window_->Form_Load();
        if (!loaded_) {
            for (const DialogCall& call : platform_.dialogs.calls)
                qWarning("start-up at %s: %s", qPrintable(address.toString()),
                         qPrintable(call.text));
        }
    }

    bool loaded() const { return loaded_; }
    Main& window() { return *window_; }
    const MainUi& ui() const { return window_->ui(); }
    FixedClock& clock() { return platform_.clock; }
    ScriptedDialogs& dialogs() { return platform_.dialogs; }

    QString transcript() const { return ui().ChatRX->toPlainText(); }
    QString notice() const { return ui().StatusPanel1->text(); }

    // Announces at once, as the timed pass does.
    void announce() { window_->station().announce(); }

    void say(const QString& line)
    {
        ui().ChatTX->setText(line);
        QTest::keyClick(ui().ChatTX, Qt::Key_Return);
    }

private:
    TestPlatform platform_;
    std::unique_ptr<Main> window_;
    bool loaded_ = false;
};

// A plain socket on port 1071 of one address that catches whatever reaches it, each
// datagram with the kernel's time of arrival, so that datagrams caught by several probes
// can be put back into the order in which they were sent.
class Probe
{
public:
    struct Catch {
        QByteArray payload;
        QHostAddress to;
        QHostAddress from;
        quint16 fromPort = 0;
        qint64 arrivalNs = 0;
    };

    explicit Probe(const QHostAddress& address) : address_(address)
    {
        if (!socket_.bind(address, kChatPort))
            return;
        const int on = 1;
        bound_ = ::setsockopt(int(socket_.socketDescriptor()), SOL_SOCKET, SO_TIMESTAMPNS, &on,
                              sizeof on) == 0;
    }

    bool isBound() const { return bound_; }

    // Everything that has arrived since the last call, oldest first. Never waits.
    QList<Catch> take()
    {
        QList<Catch> caught;
        for (;;) {
            QByteArray buffer(65536, Qt::Uninitialized);
            sockaddr_storage from{};
            iovec io{buffer.data(), size_t(buffer.size())};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t size = ::recvmsg(int(socket_.socketDescriptor()), &message, MSG_DONTWAIT);
            if (size < 0)
                break;
            buffer.truncate(size);
            Catch one{buffer, address_, {}, 0, 0};
            one.from.setAddress(reinterpret_cast<const sockaddr*>(&from));
            one.fromPort = ntohs(reinterpret_cast<const sockaddr_in&>(from).sin_port);
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec stamp{};
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    one.arrivalNs = qint64(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
                }
            }
            caught.append(one);
        }
        return caught;
    }

    // Collects until count datagrams have come or timeoutMs has passed.
    QList<Catch> collect(int count, int timeoutMs = 5000)
    {
        return collectUntil(count, timeoutMs, [this] { return take(); });
    }

    template <typename Take>
    static QList<Catch> collectUntil(int count, int timeoutMs, const Take& take)
    {
        QList<Catch> caught;
        QElapsedTimer waited;
        waited.start();
        while (caught.size() < count && waited.elapsed() < timeoutMs) {
            caught += take();
            if (caught.size() < count)
                QTest::qWait(5);
        }
        return caught;
    }

private:
    QHostAddress address_;
    QUdpSocket socket_;
    bool bound_ = false;
};

// A full address book of 51 entries, spread unevenly over the targets, so that the order
// in which the targets are reached tells the order of the slots.
inline QList<Entry> fullBookOver(const QList<QHostAddress>& targets)
{
    QList<Entry> entries;
    for (int slot = 0; slot < 51; ++slot) {
        const int target = (slot * slot + slot / 4) % int(targets.size());
        entries.append({QStringLiteral("Peer %1").arg(slot), targets[target].toString()});
    }
    return entries;
}

// Probes on 127.0.0.first to 127.0.0.last, caught from together.
class ProbeRow
{
public:
    ProbeRow(int first, int last)
    {
        for (int i = first; i <= last; ++i) {
            addresses_.append(loopback(i));
            probes_.emplace_back(loopback(i));
        }
    }

    bool isBound() const
    {
        return std::all_of(probes_.begin(), probes_.end(),
                           [](const Probe& probe) { return probe.isBound(); });
    }
    const QList<QHostAddress>& addresses() const { return addresses_; }

    // Collects until count datagrams have come to any of the probes or timeoutMs has
    // passed, and returns them in the order in which they arrived.
    QList<Probe::Catch> collectInArrivalOrder(int count, int timeoutMs = 5000)
    {
        QList<Probe::Catch> caught = Probe::collectUntil(count, timeoutMs, [this] {
            QList<Probe::Catch> now;
            for (Probe& probe : probes_)
                now += probe.take();
            return now;
        });
        std::stable_sort(
            caught.begin(), caught.end(),
            [](const Probe::Catch& a, const Probe::Catch& b) { return a.arrivalNs < b.arrivalNs; });
        return caught;
    }

private:
    QList<QHostAddress> addresses_;
    std::list<Probe> probes_; // a socket cannot move
};
