#include "station/station.h"

#include "addressbook/peername.h"
#include "identity/safetycode.h"
#include "localsend/devicemessage.h"
#include "platform/settingsstore.h"
#include "private/privatechat.h"
#include "secure/privateidentity.h"
#include "secure/privatemessage.h"
#include "sending/quillotransfer.h"
#include "station/porthandover.h"
#include "station/receiversettings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace
{

QString changeNotSaved()
{
    return QStringLiteral("Quillo could not write its settings file %1. The change to the address "
                          "book was not saved.");
}

} // namespace

Station::Station(SettingsStore& settings, RandomSource& random, const QString& dataFolder,
                 const QHostAddress& bindAddress, Clock& clock, QObject* parent)
    : QObject(parent), settings_(settings), dataFolder_(dataFolder), keys_(book_), devices_(book_),
      receiver_(bindAddress, this), sender_(random, bindAddress, clock), batch_(sender_),
      random_(random), fanOut_([this](const Recipient& who) { return makeTransfer(who); }),
      presence_(book_, clock), waiting_(settings, sender_, batch_, clock),
      history_(QDir(dataFolder).filePath(QStringLiteral("received.json"))),
      bindAddress_(bindAddress), clock_(clock), chatThrottle_(clock)
{
    receiver_.setDataFolder(dataFolder);
    receiver_.setAddressBook(book_);
    receiver_.setDevices(devices_);
    forwardReceiving();
    forwardSending();
    forwardBatch(batch_, BatchKind::Queue);
    forwardBatch(waiting_.delivery(), BatchKind::Waiting);
    forwardFanOut();
    connect(&presence_, &Presence::peerOnline, this,
            [this](const QString&, const QString& address) { waiting_.personOnline(address); });
    connect(&presence_, &Presence::peerOnline, this, &Station::peerOnline);
    connect(&presence_, &Presence::announced, this, &Station::announced);
    connect(&waiting_, &WaitingBatches::saveFailed, this, &Station::problem);
    connect(&history_, &ReceivedHistory::notWritten, this, [this](const QString& why) {
        Q_EMIT problem(QStringLiteral("The list of received files could not be saved to %1: %2")
                           .arg(QDir::toNativeSeparators(history_.filePath()), why));
    });
    connect(&waiting_, &WaitingBatches::changed, this, &Station::waitingChanged);
    connect(&batch_, &SendBatch::cutOff, this, &Station::waitAfterCut);
    connect(&batch_, &SendBatch::cutOff, this, &Station::queueCutOff);
    connect(&waiting_.delivery(), &SendBatch::cutOff, this, &Station::waitingCutOff);
    connect(&batch_, &SendBatch::noPeer, this, &Station::noPeer);
    connect(&keys_, &PeerKeys::moved, this, &Station::personMoved);
    connect(&keys_, &PeerKeys::keyAtNewAddress, this, &Station::keyAtNewAddress);
    connect(&keys_, &PeerKeys::keysChanged, this, [this] {
        if (!storeBook(QStringLiteral("The keys in the address book could not be saved to %1")))
            Q_EMIT keysNotSaved(settings_.fileName());
        waiting_.retryRefusedKeys();
    });
    connect(&devices_, &DeviceBook::changed, this, [this] {
        if (!storeBook(QStringLiteral("The keys in the address book could not be saved to %1")))
            Q_EMIT keysNotSaved(settings_.fileName());
    });
    sender_.setDevices(&devices_, ownDeviceInfo());
    connect(&sender_, &FileSender::pinNeeded, this, [this](const QString& host, bool wrong) {
        Q_EMIT sendPinNeeded(nameOrAddress(book_, host), host, wrong);
    });
    connect(&presence_, &Presence::chatReceived, this, &Station::chatReceived);
    // A datagram costs its sender as much as it costs us, and the transcript keeps only
    // its last lines; a private line is answered, and a sender may ask for that answer as
    // fast as it can read it.
    connect(&chatThrottle_, &ChatThrottle::dropped, this, &Station::chatDropped);
    wireAnnouncements();
}

void Station::forwardReceiving()
{
    connect(&receiver_, &FileReceiver::connectionOpened, this, &Station::incomingOpened);
    connect(&receiver_, &FileReceiver::privacyKnown, this, &Station::incomingPrivacyKnown);
    connect(&receiver_, &FileReceiver::fileStarted, this, &Station::incomingFileStarted);
    connect(&receiver_, &FileReceiver::resumed, this, &Station::incomingResumed);
    connect(&receiver_, &FileReceiver::progressed, this, &Station::incomingProgressed);
    connect(&receiver_, &FileReceiver::speedTicked, this, &Station::incomingSpeed);
    connect(&receiver_, &FileReceiver::finished, this, &Station::receiveEnded);
    connect(&receiver_, &FileReceiver::chatReceived, this, &Station::privateChatArrived);
    connect(&receiver_, &FileReceiver::privatePortFailed, this, &Station::privatePortFailed);
    connect(&receiver_, &FileReceiver::privatePortFailed, this, [this](const SocketError& error) {
        Q_EMIT problem(QStringLiteral("Cannot receive privately on TCP port %1: Error %2: %3")
                           .arg(QString::number(kPrivatePort), QString::number(error.number),
                                error.description));
    });
    connect(&receiver_, &FileReceiver::devicePortFailed, this, [this](const SocketError& error) {
        Q_EMIT problem(QStringLiteral("Cannot take files from LocalSend devices on TCP port "
                                      "%1: Error %2: %3")
                           .arg(QString::number(DeviceBook::kDefaultPort),
                                QString::number(error.number), error.description));
    });
}

void Station::forwardSending()
{
    connect(&sender_, &FileSender::statusChanged, this, &Station::sendStatusChanged);
    connect(&sender_, &FileSender::progressed, this, &Station::sendProgressed);
    connect(&sender_, &FileSender::readFailed, this, &Station::sendReadFailed);
    connect(&sender_, &FileSender::speedTicked, this, &Station::sendSpeed);
    connect(&sender_, &FileSender::privacyKnown, this, &Station::sendPrivacyKnown);
    connect(&sender_, &FileSender::keyChanged, this, &Station::sendKeyChanged);
    connect(&sender_, &FileSender::loosened, this, &Station::sendLoosened);
    connect(&sender_, &FileSender::resumed, this, &Station::sendResumed);
    connect(&sender_, &FileSender::cutOff, this, &Station::sendCutOff);
    connect(&sender_, &FileSender::finished, this, &Station::sendFinished);
}

void Station::forwardBatch(SendBatch& batch, BatchKind kind)
{
    connect(&batch, &SendBatch::rowStarted, this,
            [this, kind](int row, int rows, const QString& path, const QString& host, qint64 size) {
                Q_EMIT rowStarted(kind, row, rows, path, host, size);
            });
    connect(&batch, &SendBatch::rowSkipped, this,
            [this, kind](int row, int rows, const QString& path, const QString& host,
                         const QString& reason) {
                Q_EMIT rowSkipped(kind, row, rows, path, host, reason);
            });
    connect(&batch, &SendBatch::rowFinished, this,
            [this, kind](int row, const SendEnd& end) { Q_EMIT rowFinished(kind, row, end); });
    connect(&batch, &SendBatch::folderEnded, this,
            [this, kind](int row, const QString& folder, bool allSent) {
                Q_EMIT folderEnded(kind, row, folder, allSent);
            });
    connect(&batch, &SendBatch::finished, this, [this, kind] { Q_EMIT batchFinished(kind); });
}

void Station::forwardFanOut()
{
    connect(&fanOut_, &FanOut::recipientChanged, this, &Station::recipientChanged);
    connect(&fanOut_, &FanOut::rowFinished, this, &Station::recipientRowFinished);
    connect(&fanOut_, &FanOut::rowSkipped, this, &Station::recipientRowSkipped);
    connect(&fanOut_, &FanOut::keyChanged, this, &Station::sendKeyChanged);
    connect(&fanOut_, &FanOut::loosened, this, &Station::sendLoosened);
    connect(&fanOut_, &FanOut::finished, this, &Station::recipientsFinished);
}

// Every recipient speaks this program's protocols, privately where it can, as the queue's
// one person does; a recipient of another protocol would get its own transfer here.
std::unique_ptr<RecipientTransfer> Station::makeTransfer(const Recipient& recipient)
{
    auto transfer = std::make_unique<QuilloTransfer>(recipient, random_, bindAddress_, clock_,
                                                     identity(), &keys_);
    transfer->setRefusalRetries(refusalRetries_, longestRetryWait_);
    transfer->setDevices(&devices_, ownDevice());
    return transfer;
}

Station::~Station() = default;

// A line that came with no name is known by its address only, as the mini chat's are.
void Station::privateChatArrived(ChatLine line)
{
    if (line.name.isEmpty())
        line.name = nameByAddress(line.address);
    const QList<ChatLine> shown = chatThrottle_.admit({line});
    if (!shown.isEmpty())
        Q_EMIT chatReceived(shown);
}

SettingsCheck Station::checkSettings()
{
    SettingsCheck check;
    check.file = settings_.fileName();
    if (const auto error = settings_.readError()) {
        check.state = SettingsCheck::State::Unreadable;
        check.number = error->number;
        check.description = error->description;
    } else if (settings_.isDamaged()) {
        check.copy = settings_.keepCopyAside();
        copyKept_ = !check.copy.isEmpty();
        check.state = check.copy.isEmpty() ? SettingsCheck::State::DamagedNoCopy
                                           : SettingsCheck::State::DamagedKept;
    }
    return check;
}

void Station::makeShortLived()
{
    shortLived_ = true;
    waiting_.setStored(false);
}

void Station::load()
{
    book_.load(settings_);
    groups_.load(settings_, book_);
    Q_EMIT addressBookChanged();
    setOnlyKnownSenders(storedOnlyKnownSenders(settings_), false);
    setAnswerLocalSend(storedAnswerLocalSend(settings_), false);
    // The files others left waiting are theirs to deliver.
    if (!shortLived_)
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
    sender_.setDevices(&devices_, ownDevice());
    announcements_.setOwnInfo(ownDevice());
    return std::nullopt;
}

DeviceInfo Station::ownDevice() const
{
    return identity_ ? ownDeviceInfo(identity_->certificate()) : ownDeviceInfo();
}

QString Station::ownSafetyCode(QString* problem) const
{
    if (identity_)
        return identity_->safetyCode();
    const std::optional<Identity> identity = Identity::open(dataFolder_, problem);
    return identity ? identity->safetyCode() : QString();
}

std::optional<SocketError> Station::bindPresence()
{
    return presence_.bind(bindAddress_);
}

std::optional<SocketError> Station::bindPresenceToSend()
{
    return presence_.bindToSend(bindAddress_);
}

QString Station::pairCode(int slot, QString* problem) const
{
    const AddressBookEntry& entry = book_.entry(slot);
    if (entry.Key.isEmpty()) {
        *problem = QStringLiteral("%1 has no key yet: it is kept at the first private connection "
                                  "with %2, either way")
                       .arg(entry.Name, entry.IPaddress);
        return {};
    }
    if (identity_)
        return ::pairCode(identity_->key(), entry.Key);
    const std::optional<Identity> identity = Identity::open(dataFolder_, problem);
    return identity ? ::pairCode(identity->key(), entry.Key) : QString();
}

bool Station::stop()
{
    presence_.stopAnnouncing();
    // Every step runs whatever became of the one before. While a window has the ports,
    // sending has stopped already, and the settings are the window's to write.
    bool saved = true;
    if (!lent_)
        stopSending();
    if (!shortLived_ && !lent_) {
        book_.store(settings_);
        groups_.store(settings_, book_);
        saved = settings_.save();
    }
    receiver_.stop();
    hearing_ = false;
    announcements_.close();
    // The ports go back to a copy that lent them, or waits for them, at once; that copy
    // reads the list of received files then, so the list is written first.
    retake_.stop();
    if (handover_) {
        history_.finishWrites();
        presence_.release();
        handover_->end();
    }
    return saved;
}

void Station::stopSending()
{
    fanOut_.stop();
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

QString Station::storedSaveFolder() const
{
    return ::storedSaveFolder(settings_);
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

void Station::sendWhenOnline(const QString& address, const QList<QueuedFile>& files, bool online)
{
    waiting_.add(address, files);
    if (online)
        waiting_.tryNow(address);
}

void Station::clearQueue()
{
    batch_.clear();
    Q_EMIT queueCleared();
}

void Station::sendQueueWhenOnline(const QString& address, bool online)
{
    if (batch_.isRunning() || batch_.paths().isEmpty())
        return;
    const QStringList paths = batch_.paths();
    clearQueue();
    sendWhenOnline(address, paths, online);
}

void Station::sendQueueTo(const QList<Recipient>& recipients)
{
    if (!isSending())
        fanOut_.start(recipients, batch_.rows());
}

void Station::sendQueueWhenOnline(const QStringList& addresses, const QSet<QString>& online)
{
    if (isSending() || batch_.paths().isEmpty())
        return;
    const QList<QueuedFile> rows = batch_.rows();
    clearQueue();
    for (const QString& address : addresses)
        sendWhenOnline(address, rows, online.contains(address));
}

void Station::sendChat(const QString& text)
{
    QSet<QString> keyed;
    for (int slot = 0; slot < book_.count(); ++slot) {
        const AddressBookEntry& entry = book_.entry(slot);
        if (entry.Key.isEmpty() && devices_.isLocalSend(entry.IPaddress) &&
            !keyed.contains(entry.IPaddress)) {
            keyed.insert(entry.IPaddress);
            chatToDevice(entry.IPaddress, entry.Name, text);
            continue;
        }
        if (entry.Key.isEmpty() || keyed.contains(entry.IPaddress))
            continue;
        keyed.insert(entry.IPaddress);
        if (!identity_) {
            Q_EMIT problem(
                QStringLiteral("(not delivered to %1: private transfers are off)").arg(entry.Name));
            continue;
        }
        chatPrivately(entry.IPaddress, text, [this, name = entry.Name](const QString& why) {
            if (!why.isEmpty())
                Q_EMIT problem(QStringLiteral("(not delivered to %1: %2)").arg(name, why));
        });
    }
    presence_.sendLine(text, keyed);
}

// A LocalSend device takes a chat line as a text message, never as a datagram.
void Station::chatToDevice(const QString& host, const QString& name, const QString& text)
{
    auto* message = new DeviceMessage(devices_, ownDevice(), this);
    connect(message, &DeviceMessage::done, this, [this, message, name](const QString& why) {
        message->deleteLater();
        if (!why.isEmpty())
            Q_EMIT problem(QStringLiteral("(not delivered to %1: %2)").arg(name, why));
    });
    message->send(host, text);
}

void Station::sendPrivateChat(const QString& host, const QString& text)
{
    chatPrivately(host, text,
                  [this, host](const QString& why) { Q_EMIT privateChatDone(host, why); });
}

void Station::sendChatLine(const QString& host, const QString& text)
{
    presence_.sendLineTo(host, text, [this, host](const std::optional<DatagramFailure>& failure) {
        Q_EMIT chatLineSent(
            host, failure ? SendStatus::fromSocketError(failure->error, failure->description)
                          : SendStatus::at(SendStatus::Stage::Sent));
    });
}

void Station::chatPrivately(const QString& host, const QString& text,
                            std::function<void(const QString& problem)> done)
{
    auto* chat = new PrivateChat(*identity_, keys_, bindAddress_, clock_, this);
    connect(chat, &PrivateChat::done, this, [chat, done = std::move(done)](const QString& why) {
        chat->deleteLater();
        done(why);
    });
    chat->send(host, text);
}

void Station::addPerson(const QString& name, const QString& address)
{
    book_.append(name, address);
    storeBook(changeNotSaved());
}

void Station::removePerson(int slot)
{
    book_.remove(slot);
    groups_.personRemoved(slot);
    storeBook(changeNotSaved());
}

void Station::setPersonAddress(int slot, const QString& address)
{
    book_.setAddress(slot, address);
    storeBook(changeNotSaved());
}

void Station::setPersonSpeaks(int slot, Speaks speaks, quint16 localSendPort)
{
    book_.setSpeaks(slot, speaks, speaks != Speaks::Unknown);
    book_.setLocalSendPort(slot, localSendPort);
    storeBook(changeNotSaved());
}

bool Station::addGroup(const QString& name, const QList<int>& slots)
{
    if (!groups_.append(name, slots, book_))
        return false;
    storeBook(changeNotSaved());
    return true;
}

void Station::removeGroup(int index)
{
    groups_.remove(index);
    storeBook(changeNotSaved());
}

void Station::forgetKey(int slot)
{
    keys_.forget(slot);
    // A LocalSend device's certificate is its key.
    if (!book_.entry(slot).certificate.isEmpty()) {
        book_.setCertificate(slot, {});
        storeBook(changeNotSaved());
    }
}

// The whole file is written anew, so a change that failed before goes in with this one.
bool Station::storeBook(const QString& failure)
{
    bool saved = false;
    if (maySaveSettings()) {
        book_.store(settings_);
        groups_.store(settings_, book_);
        saved = settings_.save();
    }
    Q_EMIT addressBookChanged();
    if (!saved)
        Q_EMIT problem(failure.arg(settings_.fileName()));
    return saved;
}

// A file that could not be read, or only in part, would lose what it holds if written. A
// window tells the person so at its start and goes on; a command that runs a while does
// not write it unless a copy was kept.
bool Station::maySaveSettings() const
{
    if (!shortLived_)
        return true;
    return !settings_.readError() && (!settings_.isDamaged() || copyKept_);
}

// A friend whose key is known sends privately only: what comes in the clear from their
// address may come from anyone who took it, and is named so. The history holds a file
// before anyone hears that it came.
void Station::receiveEnded(ReceiveEnd end)
{
    if (!end.isPrivate && keys_.hasKey(end.peer))
        end.unverifiedName = nameByAddress(end.peer);
    recordReceived(end);
    Q_EMIT incomingEnded(end);
}

QString Station::nameByAddress(const QString& address) const
{
    const QString name = nameOrAddress(book_, address);
    return keys_.hasKey(address) ? name + QStringLiteral(" (unverified)") : name;
}

QString Station::senderOf(const ReceiveEnd& end) const
{
    if (!end.keyName.isEmpty())
        return end.keyName;
    if (!end.unverifiedName.isEmpty())
        return end.unverifiedName;
    return nameOrAddress(book_, end.peer);
}

void Station::recordReceived(const ReceiveEnd& end)
{
    if (end.outcome != ReceiveEnd::Outcome::Saved || shortLived_)
        return;
    const QString peer = senderOf(end);
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
