#include "localsend/deviceconnection.h"

#include "localsend/deviceclient.h"
#include "localsend/httpanswer.h"
#include "localsend/messages.h"
#include "localsend/uploadsessions.h"
#include "platform/localaddress.h"
#include "platform/socketerror.h"
#include "platform/socketrelease.h"

#include <QScopedValueRollback>
#include <QUrlQuery>

namespace
{

// How long a closing connection may take to hand over its last answer.
constexpr auto kCloseGrace = std::chrono::seconds(2);

using Code = ReceiveReason::Code;
using Outcome = ReceiveEnd::Outcome;
const ReceiveReason kClosed = ReceiveReason::of(Code::Closed);
const ReceiveReason kProtocolError = ReceiveReason::of(Code::BrokeProtocol);

} // namespace

DeviceConnection::DeviceConnection(int id, QSslSocket* socket, const QSslConfiguration& tls,
                                   const DeviceService& service, const QString& saveFolder,
                                   const ReceiverLimits& limits, PartFiles& parts, QObject* parent)
    : IncomingConnection(id, dottedAddress(socket->peerAddress()), parent), socket_(socket),
      service_(service), limits_(limits), saveFolder_(saveFolder), file_(saveFolder, limits, parts)
{
    adopt(socket);
    connect(socket, &QSslSocket::encrypted, this, &DeviceConnection::judgePeer);
    connect(socket, &QSslSocket::readyRead, this, &DeviceConnection::readArrival);
    connect(socket, &QSslSocket::encryptedBytesWritten, this, &DeviceConnection::readArrival);
    connect(socket, &QSslSocket::disconnected, this, [this] {
        if (socket_ && socket_->bytesAvailable() > 0)
            readArrival();
        end(Outcome::Incomplete, kClosed);
    });
    connect(socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            return; // the close handler takes it
        const SocketError shown = socketError(e, socket_ ? socket_->errorString() : QString());
        end(Outcome::Failed, ReceiveReason::socketError(shown.number), shown.description);
    });
    connect(service.sessions, &UploadSessions::cancelled, this,
            &DeviceConnection::sessionCancelled);

    deadline_.setSingleShot(true);
    deadline_.setInterval(limits_.headerDeadline);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        end(Outcome::Idle, ReceiveReason::after(Code::NoFileHeader, limits_.headerDeadline));
    });
    idle_.setSingleShot(true);
    idle_.setInterval(limits_.idleTimeout);
    connect(&idle_, &QTimer::timeout, this,
            [this] { end(Outcome::Idle, ReceiveReason::after(Code::Idle, limits_.idleTimeout)); });
    connect(&file_, &FileIntake::tooSlow, this,
            [this](const ReceiveReason& reason) { end(Outcome::Idle, reason); });
    connect(&file_, &FileIntake::settled, this, &DeviceConnection::uploadSettled);
    deadline_.start();
    age_.start();

    socket->setSslConfiguration(tls);
    socket->startServerEncryption();
}

DeviceConnection::Route DeviceConnection::routeOf(const QByteArray& path)
{
    static const QHash<QByteArray, Route> routes = {
        {"/api/localsend/v2/info", Route::Info},
        {"/api/localsend/v2/register", Route::Register},
        {"/api/localsend/v2/prepare-upload", Route::PrepareUpload},
        {"/api/localsend/v2/upload", Route::Upload},
        {"/api/localsend/v2/cancel", Route::Cancel}};
    return routes.value(path, Route::None);
}

DeviceConnection::~DeviceConnection()
{
    dropSocket(false);
}

SeatHolder DeviceConnection::seat() const
{
    const auto stage = state_ == State::Uploading || state_ == State::Saving
                           ? SeatHolder::Stage::Receiving
                           : SeatHolder::Stage::NoHeader;
    return {stage, peer_, std::chrono::milliseconds(age_.elapsed()),
            uploadedBytes_ + file_.received()};
}

void DeviceConnection::stop()
{
    end(Outcome::Incomplete, kClosed);
}

void DeviceConnection::giveWay()
{
    end(Outcome::Idle, ReceiveReason::of(Code::GaveWay));
}

// A device need not show a certificate of its own; one that does must show the one pinned
// for its address, and is then known by it.
void DeviceConnection::judgePeer()
{
    const QSslCertificate certificate = socket_->peerCertificate();
    if (!certificate.isNull() && service_.judge) {
        const KeyCheck check = service_.judge(peer_, certificateFingerprint(certificate));
        if (check.isRefused()) {
            show();
            end(Outcome::Refused, ReceiveReason::with(Code::KeyChanged, check.name));
            return;
        }
        verified_ = check.isVerified();
        keyName_ = verified_ ? check.name : QString();
    }
    state_ = State::Waiting;
    readArrival();
}

// Requests are taken strictly one after the other. While answers already written wait for
// the device to read them, nothing more is read: a device that asks without reading fills
// its own connection, not this side's memory.
void DeviceConnection::readArrival()
{
    if (!socket_ || state_ == State::Handshake || state_ == State::Ended || reading_)
        return;
    const QScopedValueRollback<bool> reading(reading_, true);
    // The next request waits until the upload before it is answered.
    while (socket_ && state_ != State::Ended && state_ != State::Saving && !answersPileUp()) {
        switch (reader_.next()) {
        case HttpRequestReader::Event::NeedMore:
            if (socket_->bytesAvailable() == 0)
                return;
            reader_.feed(socket_->read(kReadBufferBytes));
            break;
        case HttpRequestReader::Event::Head:
            takeHead();
            break;
        case HttpRequestReader::Event::Body:
            takeBody(reader_.takeBody());
            break;
        case HttpRequestReader::Event::Complete:
            takeRequest();
            break;
        case HttpRequestReader::Event::Malformed:
            answerAndClose(reader_.status());
            return;
        }
    }
}

bool DeviceConnection::answersPileUp() const
{
    return socket_ &&
           socket_->encryptedBytesToWrite() + socket_->bytesToWrite() > kMaxQueuedReplyBytes;
}

void DeviceConnection::takeHead()
{
    const HttpRequestReader::Head& head = reader_.head();
    route_ = routeOf(head.path);
    if (route_ == Route::None) {
        answerAndClose(404);
        return;
    }
    if (head.method != (route_ == Route::Info ? "GET" : "POST")) {
        answerAndClose(405);
        return;
    }
    if (route_ == Route::Upload) {
        beginUpload();
        return;
    }
    if (head.contentLength && *head.contentLength > kMaxDocumentBytes) {
        answerAndClose(413);
        return;
    }
    document_.clear();
    state_ = State::Reading;
}

void DeviceConnection::takeBody(const QByteArray& bytes)
{
    if (state_ == State::Uploading) {
        writeUpload(bytes);
        return;
    }
    if (document_.size() + bytes.size() > kMaxDocumentBytes) {
        answerAndClose(413);
        return;
    }
    document_.append(bytes);
}

void DeviceConnection::takeRequest()
{
    if (state_ == State::Uploading) {
        finishUpload();
        return;
    }
    switch (route_) {
    case Route::Info:
    case Route::Register:
        answer(200, service_.info);
        return;
    case Route::PrepareUpload:
        takeOffer();
        return;
    case Route::Cancel:
        cancelSession();
        return;
    case Route::Upload:
    case Route::None:
        return;
    }
}

// A text message is an offer of one file whose preview holds its text: it goes to the
// chat, never to the save folder.
void DeviceConnection::takeOffer()
{
    const std::optional<UploadOffer> offer = readUploadOffer(std::exchange(document_, {}));
    if (!offer || offer->files.isEmpty()) {
        answer(400);
        return;
    }
    if (service_.accepts && !service_.accepts(peer_)) {
        show();
        Q_EMIT fileEnded(fileEnd(Outcome::Refused, ReceiveReason::of(Code::NotInAddressBook)));
        answer(403);
        return;
    }
    if (offer->files.size() == 1 && !offer->files.first().preview.isEmpty()) {
        Q_EMIT chatReceived({QString(), offer->files.first().preview, peer_});
        answer(204);
        return;
    }
    const QList<OfferedFile> takeable = takeableFiles(offer->files);
    if (takeable.isEmpty()) {
        answer(403);
        return;
    }
    const std::optional<Acceptance> acceptance =
        service_.sessions->open(peer_, takeable, saveFolder_);
    answer(acceptance ? 200 : 409, acceptance ? acceptanceDocument(*acceptance) : QByteArray());
}

void DeviceConnection::cancelSession()
{
    const QUrlQuery query(QString::fromUtf8(reader_.head().query));
    service_.sessions->cancel(peer_, query.queryItemValue(QStringLiteral("sessionId")));
    answer(200);
}

// The query names the file: the session, the file's id and its token, all of which must
// be the device's own.
void DeviceConnection::beginUpload()
{
    const HttpRequestReader::Head& head = reader_.head();
    const QUrlQuery query(QString::fromUtf8(head.query));
    const QString sessionId = query.queryItemValue(QStringLiteral("sessionId"));
    const QString fileId = query.queryItemValue(QStringLiteral("fileId"));
    const std::optional<UploadSessions::Upload> upload = service_.sessions->take(
        peer_, sessionId, fileId, query.queryItemValue(QStringLiteral("token")));
    if (!upload) {
        answerAndClose(403);
        return;
    }
    sessionId_ = sessionId;
    fileId_ = fileId;
    const OfferedFile& offered = upload->file;
    if (head.contentLength && *head.contentLength != offered.size) {
        service_.sessions->release(sessionId_, fileId_);
        answerAndClose(400);
        return;
    }
    file_.shareTree(upload->tree);
    const QByteArray path = offered.fileName.toUtf8();
    if (const std::optional<FileRefusal> refusal =
            file_.admit({{peer_, {}, false}, path, offered.size, path.contains('/')})) {
        uploadRefused(*refusal, offered.size);
        return;
    }
    show();
    state_ = State::Uploading;
    deadline_.stop();
    idle_.start();
    Q_EMIT fileStarted(file_.shownName(), file_.size());
}

void DeviceConnection::uploadRefused(const FileRefusal& refusal, qint64 size)
{
    service_.sessions->release(sessionId_, fileId_);
    show();
    ReceiveEnd end = fileEnd(refusal.outcome, refusal.reason);
    end.size = size;
    Q_EMIT fileEnded(end);
    answerAndClose(refusal.outcome == Outcome::CannotSave ? 500 : 403);
}

void DeviceConnection::writeUpload(const QByteArray& bytes)
{
    if (bytes.size() > file_.missing()) {
        uploadEnded(Outcome::Refused, kProtocolError, 400);
        return;
    }
    if (!file_.write(bytes)) {
        uploadEnded(Outcome::CannotSave, file_.problem(), 500);
        return;
    }
    idle_.start(); // only bytes of the file count as a sign of life
    Q_EMIT progressed(file_.received(), file_.size());
}

// The body is over. A file is told saved only once it is synced and named.
void DeviceConnection::finishUpload()
{
    if (file_.missing() > 0) {
        uploadEnded(Outcome::Incomplete, kProtocolError, 400);
        return;
    }
    idle_.stop();
    state_ = State::Saving;
    file_.save();
}

void DeviceConnection::uploadSettled(Outcome outcome, const ReceiveReason& reason)
{
    if (state_ != State::Saving)
        return;
    if (outcome == Outcome::Saved)
        uploadEnded(Outcome::Saved, kClosed, 200);
    else
        uploadEnded(outcome, reason, 500);
    // What came meanwhile waits in the socket.
    QMetaObject::invokeMethod(this, &DeviceConnection::readArrival, Qt::QueuedConnection);
}

void DeviceConnection::uploadEnded(Outcome outcome, const ReceiveReason& reason, int status)
{
    ReceiveEnd end = fileEnd(outcome, reason);
    file_.keepPart();
    end.path = file_.path();
    idle_.stop();
    uploadedBytes_ += file_.received();
    service_.sessions->release(std::exchange(sessionId_, {}), std::exchange(fileId_, {}));
    state_ = State::Waiting;
    Q_EMIT fileEnded(end);
    if (status == 200)
        answer(200);
    else
        answerAndClose(status);
}

// The device gave up: the file on its way stays a part file, as any cut transfer's.
void DeviceConnection::sessionCancelled(const QString& sessionId)
{
    if (state_ == State::Uploading && sessionId == sessionId_)
        end(Outcome::Incomplete, kClosed);
}

void DeviceConnection::answer(int status, const QByteArray& document)
{
    if (!socket_ || state_ == State::Ended)
        return;
    const bool keepAlive = reader_.head().keepAlive;
    socket_->write(httpAnswer(status, document, keepAlive));
    socket_->flush();
    state_ = State::Waiting;
    deadline_.start();
    if (!keepAlive)
        end(Outcome::Incomplete, kClosed);
}

void DeviceConnection::answerAndClose(int status)
{
    if (!socket_ || state_ == State::Ended)
        return;
    socket_->write(httpAnswer(status, {}, false));
    socket_->flush();
    end(Outcome::Incomplete, kClosed);
}

void DeviceConnection::show()
{
    if (!std::exchange(shown_, true))
        Q_EMIT shown(verified_, keyName_);
}

// Told only when it cuts a file short or turns the device away; a device that asked and
// went has nothing to tell.
void DeviceConnection::end(Outcome outcome, const ReceiveReason& reason, const QString& detail)
{
    if (state_ == State::Ended)
        return;
    const bool cutShort = file_.isOpen();
    ReceiveEnd end = fileEnd(outcome, reason);
    end.detail = detail;
    file_.keepPart();
    end.path = cutShort ? file_.path() : QString();
    if (!cutShort)
        end.size = end.received = 0;
    if (cutShort)
        service_.sessions->release(sessionId_, fileId_);
    state_ = State::Ended;
    deadline_.stop();
    idle_.stop();
    dropSocket(true);
    if (!cutShort && outcome != Outcome::Refused) {
        Q_EMIT closed();
        return;
    }
    show();
    Q_EMIT ended(end);
}

ReceiveEnd DeviceConnection::fileEnd(Outcome outcome, const ReceiveReason& reason) const
{
    ReceiveEnd end{id_,    outcome, peer_,     {},       file_.size(),     file_.received(),
                   reason, {},      verified_, keyName_, file_.topFolder()};
    end.isLocalSend = true;
    return end;
}

void DeviceConnection::dropSocket(bool graceful)
{
    if (socket_)
        releaseSecureSocket(std::exchange(socket_, nullptr), this, parent(), graceful, kCloseGrace);
}
