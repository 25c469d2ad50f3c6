#pragma once

#include "presence/onlinepeers.h"

#include <QIcon>
#include <QObject>

class AddressBook;
class Clock;
class QListWidget;
class Station;
class QTimer;

// The online marks of the address book list: a dot in front of each name whose address
// announced itself lately, and on every row a tooltip and accessible description that say
// since when it is online or when it was last seen. The marks are the rows' icons, so the
// rows' texts stay the names. A LocalSend device's row shows a phone or a computer
// instead, with what is known of its certificate.
class OnlineMarks : public QObject
{
    Q_OBJECT

public:
    // refreshTimer is a running timer of about a second that the marks follow.
    OnlineMarks(QListWidget& list, const Station& station, const Clock& clock, QTimer& refreshTimer,
                QObject* parent = nullptr);

    bool isOnline(const QString& address) const;
    // Brings every row up to date with the clock.
    void refresh();

private:
    void seen(const QString& address);

    QListWidget& list_;
    const AddressBook& book_;
    const Clock& clock_;
    OnlinePeers peers_;
    QIcon online_;
    QIcon offline_;
    QIcon phone_;
    QIcon computer_;
};
