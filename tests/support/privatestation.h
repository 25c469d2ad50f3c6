#pragma once

#include "platform/settingsstore.h"
#include "station/station.h"
#include "support/enginefakes.h"
#include "support/privatepeer.h"
#include "support/receiverwatch.h"

#include <QDir>
#include <QHostAddress>
#include <QTemporaryDir>

#include <optional>

// A station at address receiving on both ports, with its own settings, data and save
// folders, and its own identity; Anna is listed at anna, without a key.
struct PrivateStation {
    PrivateStation(const QHostAddress& address, const QHostAddress& anna)
        : address(address), anna(anna)
    {
        station.addPerson(QStringLiteral("Anna"), anna.toString());
        station.setSaveFolder(inbox(), false);
        identityProblem = station.openIdentity();
        listenProblem = station.listen();
    }
    QString inbox(const QString& name = {}) const
    {
        return folder.filePath(QStringLiteral("in/")) + name;
    }
    // Anna's entry holds key, as if pinned at an earlier contact; the station reads its
    // settings anew.
    void pinAnnasKey(const QByteArray& key)
    {
        settings.write(QStringLiteral("IPaddress0"), QStringLiteral("Key"),
                       QString::fromLatin1(key.toHex()));
        station.load();
    }
    QStringList inboxFiles() const { return QDir(inbox()).entryList(QDir::Files); }
    // Connects peer from address "from" (Anna's by default) and says HELLO.
    void greet(PrivatePeer& peer, const QHostAddress& from = {})
    {
        peer.connectTo(from.isNull() ? anna : from, address);
        peer.send(helloMessage());
    }

    QHostAddress address;
    QHostAddress anna;
    QTemporaryDir folder;
    bool madeInbox = QDir().mkpath(folder.filePath(QStringLiteral("in")));
    SettingsStore settings{folder.filePath(QStringLiteral("Quillo.conf"))};
    ScriptedRandom random;
    FixedClock clock;
    Station station{settings, random, folder.path(), address, clock};
    ReceiverWatch watch{station};
    std::optional<QString> identityProblem;
    std::optional<SocketError> listenProblem;
};
