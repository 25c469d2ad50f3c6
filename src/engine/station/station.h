#pragma once

#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"
#include "identity/identity.h"
#include "platform/socketerror.h"
#include "presence/chatthrottle.h"
#include "presence/presence.h"
#include "receiving/filereceiver.h"
#include "receiving/receivedhistory.h"
#include "sending/filesender.h"
#include "sending/sendbatch.h"
#include "sending/waitingbatches.h"

#include <QHostAddress>
#include <QObject>

#include <optional>

class RandomSource;
class SettingsStore;

// One running copy of Quillo, whatever face it wears: it owns the address book, the
// receiver, the sender and the user's batch, presence, the deliveries waiting for someone
// to come online and the history of received files, and wires them to each other once.
// A face asks it for what the person wants and shows what its parts report.
class Station : public QObject
{
    Q_OBJECT

public:
    // settings must outlive the station; received.json in dataFolder keeps the history.
    Station(SettingsStore& settings, RandomSource& random, const QString& dataFolder,
            const QHostAddress& bindAddress, QObject* parent = nullptr);
    ~Station() override;

    AddressBook& addressBook() { return book_; }
    PeerKeys& peerKeys() { return keys_; }
    // This installation's identity once opened; none while transfers go in the clear only.
    const Identity* identity() const { return identity_ ? &*identity_ : nullptr; }
    const AddressBook& addressBook() const { return book_; }
    FileReceiver& receiver() { return receiver_; }
    FileSender& sender() { return sender_; }
    SendBatch& batch() { return batch_; }
    Presence& presence() { return presence_; }
    WaitingBatches& waiting() { return waiting_; }
    const ReceivedHistory& history() const { return history_; }

    // Reads the address book, the waiting deliveries and "only from my address book" from
    // the settings; the address book only when loadBook (a face may have loaded it).
    void load(bool loadBook = true);
    // Reads this installation's identity from the data folder, making it the first time,
    // so that files and chat lines can go privately. Returns what the person must read
    // when it cannot be had: everything then goes in the clear.
    std::optional<QString> openIdentity();
    // Takes UDP port 1071, so that announcements and chat lines arrive.
    std::optional<SocketError> bindPresence();
    // Announces this copy three seconds from now, then every minute.
    void startAnnouncing() { presence_.startAnnouncing(); }
    // Takes TCP port 1052 and starts receiving files.
    std::optional<SocketError> listen() { return receiver_.listen(); }
    // Sends nothing more, and ends what arrives as if its senders had closed.
    void stop();
    // Sends nothing more. A file of the user's batch that was going privately waits for
    // its person with the rest of the batch, to go on from where it stopped.
    void stopSending();

    const QString& saveFolder() const { return saveFolder_; }
    // The receiver saves into folder from the next file on; store writes it to the settings.
    void setSaveFolder(const QString& folder, bool store);
    bool onlyKnownSenders() const { return onlyKnown_; }
    // Takes files only from the address book, from the next connection on.
    void setOnlyKnownSenders(bool only, bool store);
    // Sends paths to address as soon as it is heard online, at once when online already.
    void sendWhenOnline(const QString& address, const QStringList& paths, bool online);
    // Sends a chat line to everyone in the address book: privately to those whose key is
    // known, as a datagram to the others. A line that does not arrive is told by problem().
    void sendChat(const QString& text);

Q_SIGNALS:
    // A file arrived whole and is in the history.
    void received(const ReceivedEntry& entry);
    // Chat lines as they came, by datagram or privately, oldest first; a flood of private
    // lines from one address is held back (see ChatThrottle).
    void chatReceived(const QList<ChatLine>& lines);
    // count chat lines from address were held back and will not be shown.
    void chatDropped(const QString& name, const QString& address, int count);
    // Something the person must read, such as a list of waiting files that was not saved.
    void problem(const QString& message);

private:
    void recordReceived(const ReceiveEnd& end);
    void privateChatArrived(const ChatLine& line);
    void waitAfterCut(const QString& address, const QList<QueuedFile>& rest);

    void storeKeys();

    SettingsStore& settings_;
    QString dataFolder_;
    QString saveFolder_;
    bool onlyKnown_ = false;
    AddressBook book_;
    PeerKeys keys_;
    std::optional<Identity> identity_;
    FileReceiver receiver_;
    FileSender sender_;
    SendBatch batch_;
    Presence presence_;
    WaitingBatches waiting_;
    ReceivedHistory history_;
    QHostAddress bindAddress_;
    ChatThrottle chatThrottle_{this}; // a child, so that tests can find it and report at once
};
