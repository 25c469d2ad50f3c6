#pragma once

#include "addressbook/addressbook.h"
#include "addressbook/addressgroups.h"
#include "addressbook/peerkeys.h"
#include "identity/identity.h"
#include "localsend/announcementlistener.h"
#include "localsend/devicebook.h"
#include "platform/clock.h"
#include "platform/socketerror.h"
#include "presence/chatthrottle.h"
#include "presence/presence.h"
#include "receiving/filereceiver.h"
#include "receiving/receivedhistory.h"
#include "sending/fanout.h"
#include "sending/filesender.h"
#include "sending/sendbatch.h"
#include "sending/waitingbatches.h"
#include "station/settingscheck.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class PortHandover;
class RandomSource;
class SettingsStore;

// Which of the station's two batches a row signal is about: the person's own queue, or a
// delivery of files that waited for someone to come online.
enum class BatchKind { Queue, Waiting };

// One running copy of Quillo, whatever face it wears, and the engine's only face: a window
// or a command asks it for what the person wants and shows what it reports. It owns the
// address book and its keys, the receiver, the sender and the queue, presence, the
// deliveries waiting for someone to come online and the history of received files, and
// wires them to each other once; none of them is handed out.
class Station : public QObject
{
    Q_OBJECT

public:
    // settings and clock must outlive the station; received.json in dataFolder keeps the
    // history. The clock times the announcements, how many chat lines are shown, how far
    // apart announcements start a delivery that waits, and connections to private ports.
    Station(SettingsStore& settings, RandomSource& random, const QString& dataFolder,
            const QHostAddress& bindAddress, Clock& clock = systemClock(),
            QObject* parent = nullptr);
    ~Station() override;

    // Starting and stopping.

    // Whether the settings can be used, keeping a copy of a damaged file aside first.
    SettingsCheck checkSettings();
    // For a command that runs a while and ends: load() reads the address book and the
    // choice of senders alone; files that wait for their person live in memory only;
    // received files are not added to the history; the settings are written only when a
    // key is pinned or forgotten, and only when they were read whole or checkSettings()
    // kept a copy of them. Before load().
    void makeShortLived();
    // Reads the address book, the waiting deliveries and "only from my address book".
    void load();
    // Reads this installation's identity from the data folder, making it the first time,
    // so that files and chat lines can go privately. Returns what the person must read
    // when it cannot be had: everything then goes in the clear.
    std::optional<QString> openIdentity();
    const Identity* identity() const { return identity_ ? &*identity_ : nullptr; }
    // This installation's safety code, its identity made the first time; empty, with
    // problem set, when the identity cannot be had.
    QString ownSafetyCode(QString* problem) const;
    // Takes UDP port 1071, so that announcements and chat lines arrive.
    std::optional<SocketError> bindPresence();
    // Takes UDP port 1071 to send from, or any port when it is taken: for a station that
    // only sends a chat line.
    std::optional<SocketError> bindPresenceToSend();
    // Announces this copy three seconds from now, then every minute.
    void startAnnouncing() { presence_.startAnnouncing(); }
    void stopAnnouncing() { presence_.stopAnnouncing(); }
    bool isAnnouncing() const { return presence_.isAnnouncing(); }
    void announce() { presence_.announce(); }
    // Takes TCP ports 1052 and 1053 and starts receiving files.
    std::optional<SocketError> listen() { return receiver_.listen(); }
    // Takes TCP port 1053 alone, for private chat lines; files offered there are turned
    // away with the reason. Requires an identity.
    std::optional<SocketError> listenForChat() { return receiver_.listenForChat(); }
    // Whether it holds either port: a copy that gave way to another holds neither.
    bool isReceiving() const { return receiver_.isListening(); }
    bool receivesPrivately() const { return receiver_.isListeningPrivately(); }
    // Sends nothing more, stores the address book, and ends what arrives as if its senders
    // had closed. Returns false when the settings could not be written.
    bool stop();
    // Sends nothing more. A file of the queue that was going privately waits for its
    // person with the rest of the queue, to go on from where it stopped.
    void stopSending();

    // Receiving.

    const QString& saveFolder() const { return saveFolder_; }
    // The save folder the settings hold; empty when none has been chosen yet.
    QString storedSaveFolder() const;
    // The receiver saves into folder from the next file on; store writes it to the settings.
    void setSaveFolder(const QString& folder, bool store);
    bool onlyKnownSenders() const { return onlyKnown_; }
    // Takes files only from the address book, from the next connection on.
    void setOnlyKnownSenders(bool only, bool store);
    // How many connections are served at once, how much room strangers' part files may
    // take and how long a connection may dawdle; from the next connection on.
    void setReceiveLimits(const ReceiverLimits& limits) { receiver_.setLimits(limits); }
    // The files received lately, newest first. A list that could not be saved is told by
    // problem(), once until it is saved again.
    const QList<ReceivedEntry>& receivedFiles() const { return history_.entries(); }
    // Who sent what end tells of, as the person is shown it: the entry whose key came,
    // "Anna (unverified)" for a plain file from a keyed friend's address, or else the
    // entry with that address, or the address.
    QString senderOf(const ReceiveEnd& end) const;

    // The address book. Each change is written to the settings at once; a change that
    // could not be written is told by problem().

    const AddressBook& addressBook() const { return book_; }
    void addPerson(const QString& name, const QString& address);
    void removePerson(int slot);
    void setPersonAddress(int slot, const QString& address);
    // Groups of the address book's people, kept with it (see AddressGroups). addGroup()
    // returns false, adding nothing, when there are as many groups as there may be or the
    // name is blank.
    const AddressGroups& groups() const { return groups_; }
    bool addGroup(const QString& name, const QList<int>& slots);
    void removeGroup(int index);
    // Forgets the key slot's entry holds, or the key it refuses, and the part files that key
    // began unless another entry holds it too. Other entries with the address keep theirs.
    void forgetKey(int slot);
    bool hasKey(const QString& address) const { return keys_.hasKey(address); }
    // The code slot's person and this installation compare, the same on both screens;
    // empty, with problem set, when either key is missing.
    QString pairCode(int slot, QString* problem) const;
    // The person said the codes match, or differ: the key is then compared, or forgotten
    // and refused until the key is forgotten again (forgetKey()).
    void markKeyCompared(int slot) { keys_.markCompared(slot); }
    void refuseKey(int slot) { keys_.refuse(slot); }
    // The entry holding key moves to address, as the person said (see keyAtNewAddress()).
    bool followKey(const QByteArray& key, const QString& address)
    {
        return keys_.follow(key, address);
    }
    // How slot's entry is reached: Unknown lets the first send find out, any other the
    // user's choice. A port of 0 is LocalSend's usual one.
    void setPersonSpeaks(int slot, Speaks speaks, quint16 localSendPort);
    // The PIN to offer the LocalSend device at host, from the next file on.
    void setLocalSendPin(const QString& host, const QString& pin)
    {
        sender_.setLocalSendPin(host, pin);
    }
    // Files to host go by LocalSend's protocol for the rest of this run, unless an entry
    // with the address holds a Quillo key.
    void sendByLocalSend(const QString& host) { devices_.treatAsLocalSend(host); }
    // The answer to sendPinNeeded(): an empty one ends the file not sent.
    void answerPin(const QString& pin) { sender_.answerPin(pin); }

    // Sending.

    QStringList queuedPaths() const { return batch_.paths(); }
    void queue(const QString& path) { batch_.append(path); }
    void queue(const QueuedFile& file) { batch_.append(file); }
    void clearQueue();
    bool isSending() const { return batch_.isRunning() || fanOut_.isRunning(); }
    // The file of the queue in hand, and its person's address.
    QueuedFile currentFile() const { return batch_.current(); }
    QString sendingTo() const { return batch_.host(); }
    // Sends the queue, asking peer for the address before every file.
    void sendQueue(SendBatch::PeerLookup peer) { batch_.start(std::move(peer)); }
    // Sends the queue to each of several people at once, each on transfers of its own (see
    // FanOut); the recipient* signals tell how each goes. Does nothing while sending.
    void sendQueueTo(const QList<Recipient>& recipients);
    bool isSendingToSeveral() const { return fanOut_.isRunning(); }
    const QList<RecipientState>& recipients() const { return fanOut_.recipients(); }
    int recipientsEnded() const { return fanOut_.ended(); }
    // Moves the queue, while it is not being sent, into a delivery to each of addresses;
    // those in online are tried at once.
    void sendQueueWhenOnline(const QStringList& addresses, const QSet<QString>& online);
    // Whether a queue cut off privately ends there (the rest waiting for its person) or
    // goes on with its next file.
    void setQueueStopsAtCut(bool stops) { batch_.setStopsAtCut(stops); }
    // How many times, and how far apart at most, a file is tried again at a port that
    // refuses it (see FileSender::setRefusalRetries).
    void setRefusalRetries(int count, std::chrono::milliseconds longestWait)
    {
        sender_.setRefusalRetries(count, longestWait);
        refusalRetries_ = count;
        longestRetryWait_ = longestWait;
    }
    // Sends paths to address as soon as it is heard online, at once when online already.
    void sendWhenOnline(const QString& address, const QStringList& paths, bool online);
    void sendWhenOnline(const QString& address, const QList<QueuedFile>& files, bool online);
    // Tries address's waiting files at once, whatever the announcements before.
    void tryWaitingNow(const QString& address) { waiting_.tryNow(address); }
    // Moves the queue, while it is not being sent, into a delivery to address as
    // sendWhenOnline does; the queue is then empty.
    void sendQueueWhenOnline(const QString& address, bool online);
    void cancelWaiting(const QString& address) { waiting_.cancel(address); }
    void cancelWaiting(const QString& address, const QStringList& paths)
    {
        waiting_.cancel(address, paths);
    }
    const QList<WaitingBatches::Batch>& waitingBatches() const { return waiting_.batches(); }
    bool isDeliveringWaiting() const { return waiting_.isDelivering(); }

    // Sharing the ports with this user's other copies, through local sockets in folder,
    // the user's runtime folder (see PortHandover). Nothing is shared for an empty folder.

    enum class PortClaim { Free, Waiting, OtherWindow };
    // For a window, before it binds or listens. Free: take the ports now. OtherWindow:
    // another window of this user runs and is brought to the front; this one should end.
    // Waiting: a serve or receive gives them up, and portsFree() follows once it has, the
    // settings read anew. From then on, later windows bring this one forward
    // (raiseRequested()), until stop().
    PortClaim claimPorts(const QString& folder);
    // For serve and receive, holding the ports: a window that claims them gets them
    // (portsLent()), with the files then arriving left to end where they began; they are
    // taken back, the settings read anew, as soon as the window is gone (portsTakenBack()).
    void lendPorts(const QString& folder);
    bool portsLentOut() const { return lent_; }

    // Presence and chat.

    // Sends a chat line to everyone in the address book: privately to those whose key is
    // known, as a text message to LocalSend devices, as a datagram to the others. A line that does
    // not arrive is told by problem().
    void sendChat(const QString& text);
    // Sends a chat line to host alone, privately; privateChatDone() tells how it went.
    // Requires an identity.
    void sendPrivateChat(const QString& host, const QString& text);
    // Sends a chat line to host alone as a datagram; chatLineSent() tells whether it left.
    void sendChatLine(const QString& host, const QString& text);

    // Answering LocalSend devices of the address book that announce themselves (see
    // AnnouncementListener), as [Settings] AnswerLocalSend says once loaded.

    bool answersLocalSend() const { return answerLocalSend_; }
    // From now on; store writes it to the settings.
    void setAnswerLocalSend(bool answer, bool store);
    // Hears announcements on UDP port 53317 whenever answering them is on, until stop().
    // A port that cannot be had is told once by problem(), and the rest goes on without it.
    void hearAnnouncements();

Q_SIGNALS:
    // Receiving: a connection and the files it brings, as FileReceiver tells them.
    void incomingOpened(int connection, const QString& peer);
    void incomingPrivacyKnown(int connection, bool isPrivate, const QString& name);
    void incomingFileStarted(int connection, const QString& name, qint64 size);
    void incomingResumed(int connection, qint64 offset, qint64 size);
    void incomingProgressed(int connection, qint64 received, qint64 size);
    void incomingEnded(const ReceiveEnd& end);
    void incomingSpeed(qint64 bytes, int seconds);
    // A file arrived whole and is in the history.
    void received(const ReceivedEntry& entry);

    // Sending: the file in hand, as FileSender tells it.
    void sendStatusChanged(const SendStatus& status);
    void sendProgressed(qint64 confirmed, qint64 size);
    void sendReadFailed(const SendStatus& status);
    void sendSpeed(qint64 bytes, int seconds);
    void sendPrivacyKnown(bool isPrivate, const QString& name);
    void sendKeyChanged(const QString& name, const QString& address);
    void sendLoosened(const QString& name);
    void sendResumed(qint64 offset, qint64 size);
    void sendCutOff();
    // The LocalSend device at address (name's entry, or none) asks for a PIN before it takes
    // the files; wrong when the one given was not it. answerPin() goes on.
    void sendPinNeeded(const QString& name, const QString& address, bool wrong);
    void sendFinished(const SendEnd& end);
    // The rows of either batch, as SendBatch tells them.
    void rowStarted(BatchKind batch, int row, int rows, const QString& path, const QString& host,
                    qint64 size);
    void rowSkipped(BatchKind batch, int row, int rows, const QString& path, const QString& host,
                    const QString& reason);
    void rowFinished(BatchKind batch, int row, const SendEnd& end);
    void folderEnded(BatchKind batch, int row, const QString& folder, bool allSent);
    void batchFinished(BatchKind batch);
    // A batch sent to several people (see sendQueueTo()): recipients()[index] changed, a
    // file of one recipient ended or was skipped, and every recipient has ended.
    void recipientChanged(int index);
    void recipientRowFinished(const Recipient& who, int row, const SendEnd& end);
    void recipientRowSkipped(const Recipient& who, int row, int rows, const QString& path,
                             const QString& reason);
    void recipientsFinished();
    // The queue was emptied, by clearQueue() or by moving it into a waiting delivery.
    void queueCleared();
    // The queue found no peer for its next row, and has ended.
    void noPeer();
    // The queue was cut off privately; rest waits for its person (see SendBatch::cutOff).
    void queueCutOff(const QString& host, const QList<QueuedFile>& rest);
    // A delivery of waiting files was cut off privately; rest waits still, the cut file
    // first, and is tried once more at once.
    void waitingCutOff(const QString& host, const QList<QueuedFile>& rest);
    // Deliveries were added, cancelled, emptied or ended an attempt.
    void waitingChanged();

    // Presence and chat.
    void peerOnline(const QString& name, const QString& address);
    void announced(const QString& address);
    // Chat lines as they came, by datagram or privately, oldest first; a flood of private
    // lines from one address is held back (see ChatThrottle).
    void chatReceived(const QList<ChatLine>& lines);
    // count chat lines from address were held back and will not be shown.
    void chatDropped(const QString& name, const QString& address, int count);
    // problem is empty when host heard the line sent by sendPrivateChat().
    void privateChatDone(const QString& host, const QString& problem);
    // How the datagram of sendChatLine() went: Sent, or a SocketError (HostNotFoundError
    // for a name that could not be looked up).
    void chatLineSent(const QString& host, const SendStatus& status);

    // The address book's entries or keys changed.
    void addressBookChanged();
    // name's compared key came from a new address, and the entry followed it there.
    void personMoved(const QString& name, const QString& address);
    // name's pinned key came from address, which is not the entry's: the entry stays as it
    // is until the person says to follow the key (followKey()).
    void keyAtNewAddress(const QString& name, const QString& address, const QByteArray& key);
    // Sharing the ports (see claimPorts() and lendPorts()).
    void portsFree();
    void raiseRequested();
    void portsLent();
    void portsTakenBack();
    // The ports could not be taken back for a while; they are tried again until they are.
    void portsNotTakenBack(const SocketError& error);

    // Something the person must read, such as a list of waiting files that was not saved.
    void problem(const QString& message);
    // The same, typed, for a face that words them itself: the private port could not be
    // had, so files come in the clear only; a pinned or forgotten key could not be
    // written to the settings file.
    void privatePortFailed(const SocketError& error);
    void keysNotSaved(const QString& settingsFile);

private:
    void forwardReceiving();
    void forwardSending();
    void forwardBatch(SendBatch& batch, BatchKind kind);
    void forwardFanOut();
    std::unique_ptr<RecipientTransfer> makeTransfer(const Recipient& recipient);
    void receiveEnded(ReceiveEnd end);
    void recordReceived(const ReceiveEnd& end);
    void privateChatArrived(ChatLine line);
    // The entry's name for what came from address with nothing to prove who sent it:
    // "(unverified)" when the entry holds a key.
    QString nameByAddress(const QString& address) const;
    void waitAfterCut(const QString& address, const QList<QueuedFile>& rest);
    bool storeBook(const QString& failure);
    bool maySaveSettings() const;
    void chatToDevice(const QString& host, const QString& name, const QString& text);
    void chatPrivately(const QString& host, const QString& text,
                       std::function<void(const QString& problem)> done);
    PortHandover& handover(const QString& folder);
    void reloadShared();
    void givePortsUp();
    void takePortsBack();
    void wireAnnouncements();
    // This computer as LocalSend devices see it.
    DeviceInfo ownDevice() const;
    void updateAnnouncements();

    SettingsStore& settings_;
    QString dataFolder_;
    QString saveFolder_;
    bool onlyKnown_ = false;
    bool shortLived_ = false;
    bool copyKept_ = false; // checkSettings() kept a copy of a damaged file
    AddressBook book_;
    AddressGroups groups_;
    PeerKeys keys_;
    DeviceBook devices_;
    std::optional<Identity> identity_;
    FileReceiver receiver_;
    FileSender sender_;
    SendBatch batch_;
    RandomSource& random_;
    FanOut fanOut_;
    int refusalRetries_ = FileSender::kRefusalRetries;
    std::chrono::milliseconds longestRetryWait_ = PlainSender::kLongestRetryWait;
    Presence presence_;
    WaitingBatches waiting_;
    ReceivedHistory history_;
    QHostAddress bindAddress_;
    Clock& clock_;
    ChatThrottle chatThrottle_;
    std::unique_ptr<PortHandover> handover_;
    bool lent_ = false;
    bool presenceLent_ = false;   // presence was bound when the ports were lent
    bool announcingLent_ = false; // and announcing
    QTimer retake_;
    QDeadlineTimer retakeTold_; // a failure to take the ports back is told when this expires
    AnnouncementListener announcements_{book_, devices_, clock_};
    bool answerLocalSend_ = true;
    bool hearing_ = false;
    bool announcementPortTold_ = false;
};
