#include "station/station.h"

#include "addressbook/peername.h"
#include "platform/settingsstore.h"
#include "private/privatechat.h"
#include "secure/privateidentity.h"
#include "secure/privatemessage.h"
#include "station/receiversettings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

Station::Station(SettingsStore& settings, RandomSource& random, const QString& dataFolder,
                 const QHostAddress& bindAddress, QObject* parent)
    : QObject(parent), settings_(settings), dataFolder_(dataFolder), keys_(book_),
      receiver_(bindAddress), sender_(random, bindAddress), batch_(sender_), presence_(book_),
      waiting_(settings, sender_, batch_),
      history_(QDir(dataFolder).filePath(QStringLiteral("received.json"))),
      bindAddress_(bindAddress)
{
    receiver_.setDataFolder(dataFolder);
    receiver_.setAddressBook(book_);
    connect(&receiver_, &FileReceiver::finished, this, &Station::recordReceived);
    connect(&presence_, &Presence::peerOnline, this,
            [this](const QString&, const QString& address) { waiting_.personOnline(address); });
    connect(&waiting_, &WaitingBatches::saveFailed, this, &Station::problem);
    connect(&batch_, &SendBatch::cutOff, this, &Station::waitAfterCut);
    connect(&keys_, &PeerKeys::keysChanged, this, &Station::storeKeys);
    connect(&keys_, &PeerKeys::keysChanged, &waiting_, &WaitingBatches::keysChanged);
    connect(&presence_, &Presence::chatReceived, this, &Station::chatReceived);
    // A datagram costs its sender as much as it costs us, and the transcript keeps only
    // its last lines; a private line is answered, and a sender may ask for that answer as
    // fast as it can read it.
    connect(&receiver_, &FileReceiver::chatReceived, this, &Station::privateChatArrived);
    connect(&chatThrottle_, &ChatThrottle::dropped, this, &Station::chatDropped);
    connect(&receiver_, &FileReceiver::privatePortFailed, this, [this](const SocketError& error) {
        Q_EMIT problem(QStringLiteral("Cannot receive privately on TCP port %1: Error %2: %3")
                           .arg(QString::number(kPrivatePort), QString::number(error.number),
                                error.description));
    });
}

Station::~Station() = default;

void Station::privateChatArrived(const ChatLine& line)
{
    const QList<ChatLine> shown = chatThrottle_.admit({line});
    if (!shown.isEmpty())
        Q_EMIT chatReceived(shown);
}

void Station::load(bool loadBook)
{
    if (loadBook)
        book_.load(settings_);
    setOnlyKnownSenders(storedOnlyKnownSenders(settings_), false);
    waiting_.load();
}

std::optional<QString> Station::openIdentity()
{
    std::variant<Identity, QString> opened = openPrivateIdentity(dataFolder_);
    if (const QString* problem = std::get_if<QString>(&opened)) {
        sender_.setPrivacy(nullptr, &keys_);
        return *problem;
    }
    identity_ = std::move(std::get<Identity>(opened));
    sender_.setPrivacy(&*identity_, &keys_);
    receiver_.setPrivacy(&*identity_, &keys_);
    return std::nullopt;
}

std::optional<SocketError> Station::bindPresence()
{
    return presence_.bind(bindAddress_);
}

void Station::stop()
{
    presence_.stopAnnouncing();
    stopSending();
    receiver_.stop();
}

void Station::stopSending()
{
    if (batch_.isRunning() && sender_.isSendingPrivately())
        waiting_.add(batch_.host(), batch_.rest());
    batch_.stop();
    waiting_.stop();
}

// The receiver keeps what came: the rest waits for its person, and is tried at once in
// case only the connection broke.
void Station::waitAfterCut(const QString& address, const QList<QueuedFile>& rest)
{
    waiting_.add(address, rest);
    waiting_.tryNow(address);
}

void Station::setSaveFolder(const QString& folder, bool store)
{
    saveFolder_ = folder;
    receiver_.setSaveFolder(folder);
    if (store) {
        storeSaveFolder(settings_, folder);
        settings_.save();
    }
}

void Station::setOnlyKnownSenders(bool only, bool store)
{
    onlyKnown_ = only;
    if (store) {
        storeOnlyKnownSenders(settings_, only);
        settings_.save();
    }
    receiver_.setSenderFilter(only ? inBookPlainly(book_) : FileReceiver::SenderFilter());
}

void Station::sendWhenOnline(const QString& address, const QStringList& paths, bool online)
{
    waiting_.add(address, paths);
    if (online)
        waiting_.tryNow(address);
}

void Station::sendChat(const QString& text)
{
    QSet<QString> keyed;
    for (int slot = 0; slot < book_.count(); ++slot) {
        const AddressBookEntry& entry = book_.entry(slot);
        if (entry.Key.isEmpty() || keyed.contains(entry.IPaddress))
            continue;
        keyed.insert(entry.IPaddress);
        if (!identity_) {
            Q_EMIT problem(
                QStringLiteral("(not delivered to %1: private transfers are off)").arg(entry.Name));
            continue;
        }
        auto* chat = new PrivateChat(*identity_, keys_, bindAddress_, this);
        connect(chat, &PrivateChat::done, this,
                [this, chat, name = entry.Name](const QString& why) {
                    chat->deleteLater();
                    if (!why.isEmpty())
                        Q_EMIT problem(QStringLiteral("(not delivered to %1: %2)").arg(name, why));
                });
        chat->send(entry.IPaddress, text);
    }
    presence_.sendLine(text, keyed);
}

void Station::storeKeys()
{
    book_.store(settings_);
    if (!settings_.save())
        Q_EMIT problem(QStringLiteral("The keys in the address book could not be saved to %1")
                           .arg(settings_.fileName()));
}

void Station::recordReceived(const ReceiveEnd& end)
{
    if (end.outcome != ReceiveEnd::Outcome::Saved)
        return;
    const QString peer = end.keyName.isEmpty() ? nameOrAddress(book_, end.peer) : end.keyName;
    const ReceivedEntry entry{QDateTime::currentDateTime(),
                              QFileInfo(end.path).fileName(),
                              end.size,
                              peer,
                              end.path,
                              end.isPrivate,
                              end.folder};
    history_.add(entry);
    Q_EMIT received(entry);
}
