#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"
#include "identity/identity.h"
#include "localsend/devicebook.h"
#include "localsend/httprequestreader.h"
#include "localsend/uploadsessions.h"
#include "receiving/filereceiver.h"
#include "support/clirun.h"
#include "support/enginefakes.h"
#include "support/receiverwatch.h"
#include "support/testfiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

// The receiver's address, and devices' own.
const QHostAddress kReceiver(QStringLiteral("127.0.31.1"));
const QString kPhone = QStringLiteral("127.0.31.2");
const QString kOther = QStringLiteral("127.0.31.3");
constexpr quint16 kPort = 53317;
constexpr int kWaitMs = 20000;

struct Answer {
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

QByteArray request(const QByteArray& method, const QByteArray& target, const QByteArray& body = {},
                   const QByteArray& headers = {})
{
    return method + ' ' + target + " HTTP/1.1\r\nHost: quillo\r\n" + headers +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A LocalSend device as a hostile one would be: raw HTTP/1.1 over TLS from its own
// address, showing a client certificate when given one.
class Device
{
public:
    explicit Device(const QString& from, const Identity* identity = nullptr)
    {
        socket.bind(QHostAddress(from));
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        if (identity) {
            tls.setLocalCertificate(identity->certificate());
            tls.setPrivateKey(identity->privateKey());
        }
        socket.setSslConfiguration(tls);
        QObject::connect(&socket, &QSslSocket::readyRead, [this] { arrived += socket.readAll(); });
        socket.connectToHostEncrypted(kReceiver.toString(), kPort);
    }
    void send(const QByteArray& bytes) { socket.write(bytes); }
    // The next whole answer; status 0 when none came.
    Answer answer()
    {
        Answer answer;
        if (!QTest::qWaitFor([&] { return take(answer); }, kWaitMs))
            answer.status = 0;
        return answer;
    }
    Answer ask(const QByteArray& bytes)
    {
        send(bytes);
        return answer();
    }
    bool isClosed()
    {
        return QTest::qWaitFor(
            [this] { return socket.state() == QAbstractSocket::UnconnectedState; }, kWaitMs);
    }

    QSslSocket socket;
    QByteArray arrived;

private:
    bool take(Answer& answer)
    {
        const qsizetype headEnd = arrived.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return false;
        const QByteArray head = arrived.left(headEnd).toLower();
        const qsizetype at = head.indexOf("content-length: ");
        const qsizetype length =
            at < 0 ? 0 : head.mid(at + 16, head.indexOf('\r', at) - at - 16).toLongLong();
        if (arrived.size() < headEnd + 4 + length)
            return false;
        answer.status = arrived.mid(9, 3).toInt();
        answer.body = arrived.mid(headEnd + 4, length);
        arrived.remove(0, headEnd + 4 + length);
        return true;
    }
};

QByteArray offer(const QList<std::pair<QString, qint64>>& files, const QString& preview = {})
{
    QJsonObject list;
    int id = 0;
    for (const auto& [name, size] : files) {
        QJsonObject file{{"id", QString::number(++id)},
                         {"fileName", name},
                         {"size", size},
                         {"fileType", "application/octet-stream"}};
        if (!preview.isEmpty())
            file.insert("preview", preview);
        list.insert(QString::number(id), file);
    }
    const QJsonObject info{{"alias", "Phone"},   {"version", "2.1"}, {"deviceType", "mobile"},
                           {"fingerprint", "x"}, {"port", 53317},    {"protocol", "https"}};
    return QJsonDocument(QJsonObject{{"info", info}, {"files", list}}).toJson();
}

QByteArray uploadTarget(const QJsonObject& acceptance, const QString& fileId,
                        const QString& token = {})
{
    const QString sessionId = acceptance.value("sessionId").toString();
    const QString given =
        token.isEmpty() ? acceptance.value("files").toObject().value(fileId).toString() : token;
    return "/api/localsend/v2/upload?sessionId=" + sessionId.toUtf8() +
           "&fileId=" + fileId.toUtf8() + "&token=" + given.toUtf8();
}

// The events a reader makes of bytes fed in pieces of step, in words.
QString readEvents(const QByteArray& bytes, qsizetype step)
{
    HttpRequestReader reader;
    QString events;
    QByteArray body;
    for (qsizetype at = 0; at <= bytes.size(); at += step) {
        if (at < bytes.size())
            reader.feed(bytes.mid(at, step));
        for (bool more = true; more;) {
            switch (reader.next()) {
            case HttpRequestReader::Event::NeedMore:
                more = false;
                break;
            case HttpRequestReader::Event::Head:
                events += QString::fromLatin1(reader.head().method + ' ' + reader.head().path +
                                              " ?" + reader.head().query + ' ');
                break;
            case HttpRequestReader::Event::Body:
                body += reader.takeBody();
                break;
            case HttpRequestReader::Event::Complete:
                events += QString::fromLatin1("[" + std::exchange(body, {}) + "] ");
                break;
            case HttpRequestReader::Event::Malformed:
                return events + QString::number(reader.status());
            }
        }
    }
    return events;
}

// The test suite's own LocalSend-protocol device sending from address to the receiver at
// to; its lines, once it has ended within the wait.
struct SenderDevice {
    SenderDevice(const QString& from, const QString& to, const QString& folder,
                 const QStringList& arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("python3"),
                      QStringList{QStringLiteral(QUILLO_LOCALSEND_SENDER), QStringLiteral("--from"),
                                  from, QStringLiteral("--to"), to, QStringLiteral("--folder"),
                                  folder} +
                          arguments);
    }
    bool ended()
    {
        if (!QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; }, kWaitMs))
            return false;
        output += QString::fromUtf8(process.readAllStandardOutput());
        return true;
    }
    QProcess process;
    QString output;
};

// A receiver with an identity on the receiver's address, its book listing the phone.
struct Fixture {
    Fixture()
    {
        book.append(QStringLiteral("Phone"), kPhone);
        receiver.setSaveFolder(saveFolder.path());
        receiver.setDataFolder(dataFolder.path());
        receiver.setAddressBook(book);
        receiver.setPrivacy(&*identity, &keys);
        receiver.setDevices(devices);
    }
    bool listen() { return !receiver.listen() && receiver.isListeningForDevices(); }
    QString saved(const QString& name) const { return saveFolder.filePath(name); }

    QTemporaryDir saveFolder;
    QTemporaryDir dataFolder;
    AddressBook book;
    PeerKeys keys{book};
    DeviceBook devices{book};
    std::optional<Identity> identity = Identity::open(dataFolder.path(), nullptr);
    FileReceiver receiver{kReceiver};
    ReceiverWatch watch{receiver};
};

} // namespace

class TestDeviceServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requestsAreReadInAnyPieces();
    void overTheCapsIsAnsweredWithItsStatus_data();
    void overTheCapsIsAnsweredWithItsStatus();
    void sessionsAreOneAtATimeAndTokensOnceOnly();
    void filesAndAFolderArriveOverSeveralConnections();
    void hostileRequestsGetTheirStatusAndLeaveNothing();
    void strangersAreTurnedAwayWhenOnlyFromTheBook();
    void textMessageGoesToTheChat();
    void cancelCutsTheUploadShort();
    void slowHeadIsCutQuietly();
    void clientCertificateMustBeThePinnedOne();
    void serveTakesFilesAFolderAndAMessage();
};

void TestDeviceServer::requestsAreReadInAnyPieces()
{
    const QByteArray bytes =
        request("GET", "/api/localsend/v2/info") +
        request("POST", "/api/localsend/v2/upload?sessionId=s&token=t", "0123456789") +
        "POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n";
    const QString expected = "GET /api/localsend/v2/info ? [] "
                             "POST /api/localsend/v2/upload ?sessionId=s&token=t [0123456789] "
                             "POST /x ? [abcde] ";
    for (const qsizetype step : {qsizetype(1), qsizetype(7), bytes.size()})
        QCOMPARE(readEvents(bytes, step), expected);
}

void TestDeviceServer::overTheCapsIsAnsweredWithItsStatus_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::newRow("long target") << request("GET", "/" + QByteArray(5000, 'a')) << 414;
    QTest::newRow("long header") << request("GET", "/", {}, "X: " + QByteArray(17000, 'b') + "\r\n")
                                 << 431;
    QByteArray many;
    for (int i = 0; i < 65; ++i)
        many += "X" + QByteArray::number(i) + ": y\r\n";
    QTest::newRow("many headers") << request("GET", "/", {}, many) << 431;
    QTest::newRow("not http") << QByteArray("\x16\x03\x01 hello\r\n\r\n") << 400;
    QTest::newRow("upgrade") << request("GET", "/", {}, "Connection: Upgrade\r\nUpgrade: x\r\n")
                             << 400;
}

void TestDeviceServer::overTheCapsIsAnsweredWithItsStatus()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QVERIFY(readEvents(bytes, 1).endsWith(QString::number(status)));
    QVERIFY(readEvents(bytes, bytes.size()).endsWith(QString::number(status)));
}

void TestDeviceServer::sessionsAreOneAtATimeAndTokensOnceOnly()
{
    FixedClock clock;
    UploadSessions sessions(clock);
    const QList<OfferedFile> files = {{"a", "a.txt", 1, {}}, {"b", "Trip/b.txt", 2, {}}};
    const std::optional<Acceptance> first = sessions.open(kPhone, files, "/tmp");
    QVERIFY(first && first->tokens.size() == 2);
    const QString token = first->tokens.value("a");
    QVERIFY(!sessions.open(kOther, files, "/tmp"));
    QVERIFY(!sessions.take(kOther, first->sessionId, "a", token));
    QVERIFY(!sessions.take(kPhone, "other", "a", token));
    QVERIFY(!sessions.take(kPhone, first->sessionId, "b", token));
    QVERIFY(sessions.take(kPhone, first->sessionId, "a", token));
    QVERIFY(!sessions.take(kPhone, first->sessionId, "a", token));
    // An upload under way holds the session however long it takes; a quiet one gives way.
    clock.advance(UploadSessions::kQuietSession * 2);
    QVERIFY(!sessions.open(kOther, files, "/tmp"));
    sessions.release(first->sessionId, "a");
    QVERIFY(!sessions.open(kOther, files, "/tmp"));
    clock.advance(UploadSessions::kQuietSession);
    QVERIFY(sessions.open(kOther, files, "/tmp"));

    const QList<OfferedFile> names = {{"1", "../up.txt", 1, {}},    {"2", "/etc/x", 1, {}},
                                      {"3", "Trip/.hidden", 1, {}}, {"4", "Trip/../x", 1, {}},
                                      {"5", "Trip/ok.txt", 1, {}},  {"6", "ok.txt", 1, {}}};
    QStringList takeable;
    for (const OfferedFile& file : takeableFiles(names))
        takeable.append(file.id);
    QCOMPARE(takeable, QStringList({"5", "6"}));
}

void TestDeviceServer::filesAndAFolderArriveOverSeveralConnections()
{
    Fixture fixture;
    QVERIFY(QDir().mkpath(fixture.saved("Trip")));
    QVERIFY(writeFile(fixture.saved("Trip/old.txt"), "an older Trip"));
    QVERIFY(fixture.listen());
    Device phone(kPhone);
    const Answer info = phone.ask(request("GET", "/api/localsend/v2/info"));
    QCOMPARE(info.status, 200);
    QCOMPARE(info.json().value("fingerprint").toString().toLatin1(),
             fixture.identity->certificate().digest(QCryptographicHash::Sha256).toHex());

    const QByteArray a = someBytes(3 * 1024 * 1024), b = "bee", c = "sea";
    const Answer accepted = phone.ask(request(
        "POST", "/api/localsend/v2/prepare-upload",
        offer({{"a.bin", a.size()}, {"Trip/b.txt", b.size()}, {"Trip/day/c.txt", c.size()}})));
    QCOMPARE(accepted.status, 200);
    const QJsonObject acceptance = accepted.json();
    QCOMPARE(phone.ask(request("POST", uploadTarget(acceptance, "1"), a)).status, 200);
    QCOMPARE(phone.ask(request("POST", uploadTarget(acceptance, "2"), b)).status, 200);
    Device again(kPhone);
    QCOMPARE(again.ask(request("POST", uploadTarget(acceptance, "3"), c)).status, 200);

    QCOMPARE(readFile(fixture.saved("a.bin")), a);
    QCOMPARE(readFile(fixture.saved("Trip (1)/b.txt")), b);
    QCOMPARE(readFile(fixture.saved("Trip (1)/day/c.txt")), c);
    QCOMPARE(readFile(fixture.saved("Trip/old.txt")), QByteArray("an older Trip"));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.watch.ends.size(), 3, kWaitMs);
    for (const ReceiveEnd& end : std::as_const(fixture.watch.ends))
        QCOMPARE(end.outcome, ReceiveEnd::Outcome::Saved);
    QCOMPARE(fixture.watch.ends.last().folder, fixture.saved("Trip (1)"));
}

void TestDeviceServer::hostileRequestsGetTheirStatusAndLeaveNothing()
{
    Fixture fixture;
    QVERIFY(fixture.listen());
    Device phone(kPhone);
    const QString prepare = "/api/localsend/v2/prepare-upload";
    QCOMPARE(phone.ask(request("POST", prepare.toUtf8(), QByteArray(300 * 1024, ' '))).status, 413);
    Device other(kOther);
    QList<std::pair<QString, qint64>> thousands;
    for (int i = 0; i < 1001; ++i)
        thousands.append({QString::number(i), 1});
    QCOMPARE(other.ask(request("POST", prepare.toUtf8(), offer(thousands))).status, 400);
    QCOMPARE(other.ask(request("POST", prepare.toUtf8(), offer({{"../up", 1}, {".x", 1}}))).status,
             403);
    QCOMPARE(other.ask(request("GET", "/api/localsend/v2/nothing")).status, 404);

    Device device(kPhone);
    const QJsonObject acceptance =
        device.ask(request("POST", prepare.toUtf8(), offer({{"a", 4}, {"b", 4}, {"c", 4}}))).json();
    QCOMPARE(Device(kOther).ask(request("POST", prepare.toUtf8(), offer({{"z", 1}}))).status, 409);
    QCOMPARE(Device(kOther).ask(request("POST", uploadTarget(acceptance, "1"), "1234")).status,
             403);
    QCOMPARE(Device(kPhone).ask(request("POST", uploadTarget(acceptance, "1", "x"), "1234")).status,
             403);
    QCOMPARE(Device(kPhone).ask(request("POST", uploadTarget(acceptance, "1"), "12345")).status,
             400);
    QCOMPARE(Device(kPhone).ask(request("POST", uploadTarget(acceptance, "2"), "")).status, 400);
    // A body longer than its file, with no length to tell in advance.
    Device chunked(kPhone);
    chunked.send("POST " + uploadTarget(acceptance, "3") +
                 " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n6\r\n123456\r\n0\r\n\r\n");
    QCOMPARE(chunked.answer().status, 400);
    QVERIFY(chunked.isClosed());

    // What came of the cut uploads stays a part file, as on the other ports (named by the
    // disk worker once let go of); nothing has a final name.
    QTRY_COMPARE_WITH_TIMEOUT(
        QDir(fixture.saveFolder.path()).entryList(QDir::Files | QDir::NoDotAndDotDot),
        QStringList({"c.part"}), kWaitMs);
    QVERIFY(!QFile::exists(QFileInfo(fixture.saveFolder.path()).dir().filePath("up")));
}

void TestDeviceServer::strangersAreTurnedAwayWhenOnlyFromTheBook()
{
    Fixture fixture;
    fixture.receiver.setSenderFilter([](const QString& peer) { return peer == kPhone; });
    QVERIFY(fixture.listen());
    const QByteArray prepare =
        request("POST", "/api/localsend/v2/prepare-upload", offer({{"a", 1}}));
    QCOMPARE(Device(kOther).ask(prepare).status, 403);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.watch.ends.size(), 1, kWaitMs);
    QCOMPARE(fixture.watch.ends.first().reason.code, ReceiveReason::Code::NotInAddressBook);
    QCOMPARE(fixture.watch.ends.first().peer, kOther);
    QCOMPARE(Device(kPhone).ask(prepare).status, 200);
}

void TestDeviceServer::textMessageGoesToTheChat()
{
    Fixture fixture;
    QSignalSpy lines(&fixture.receiver, &FileReceiver::chatReceived);
    QVERIFY(fixture.listen());
    const QString text = QStringLiteral("<b>hello</b> from the phone");
    QCOMPARE(Device(kPhone)
                 .ask(request("POST", "/api/localsend/v2/prepare-upload",
                              offer({{"message.txt", text.size()}}, text)))
                 .status,
             204);
    QCOMPARE(lines.size(), 1);
    const ChatLine line = lines.first().first().value<ChatLine>();
    QCOMPARE(line.text, text);
    QCOMPARE(line.address, kPhone);
    QVERIFY(QDir(fixture.saveFolder.path()).isEmpty());
}

void TestDeviceServer::cancelCutsTheUploadShort()
{
    Fixture fixture;
    QVERIFY(fixture.listen());
    Device phone(kPhone);
    const QJsonObject acceptance =
        phone.ask(request("POST", "/api/localsend/v2/prepare-upload", offer({{"big.bin", 1000}})))
            .json();
    Device uploading(kPhone);
    uploading.send("POST " + uploadTarget(acceptance, "1") +
                   " HTTP/1.1\r\nContent-Length: 1000\r\n\r\n" + QByteArray(400, 'x'));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.watch.received, 400, kWaitMs);
    const QByteArray cancel =
        "/api/localsend/v2/cancel?sessionId=" + acceptance.value("sessionId").toString().toUtf8();
    QCOMPARE(Device(kOther).ask(request("POST", cancel)).status, 200); // not theirs: no effect
    QCOMPARE(fixture.watch.ends.size(), 0);
    QCOMPARE(phone.ask(request("POST", cancel)).status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.watch.ends.size(), 1, kWaitMs);
    QCOMPARE(fixture.watch.ends.first().outcome, ReceiveEnd::Outcome::Incomplete);
    QCOMPARE(fixture.watch.ends.first().received, 400);
    QVERIFY(uploading.isClosed());
    QVERIFY(!QFile::exists(fixture.saved("big.bin")));
}

void TestDeviceServer::slowHeadIsCutQuietly()
{
    Fixture fixture;
    ReceiverLimits limits;
    limits.headerDeadline = std::chrono::milliseconds(200);
    fixture.receiver.setLimits(limits);
    QVERIFY(fixture.listen());
    Device slow(kPhone);
    slow.send("GET /api/localsend/v2/info HTTP/1.1\r\nX: ");
    QVERIFY(slow.isClosed());
    QCOMPARE(fixture.watch.ends.size(), 0);
}

void TestDeviceServer::clientCertificateMustBeThePinnedOne()
{
    Fixture fixture;
    QVERIFY(fixture.listen());
    QTemporaryDir firstFolder, secondFolder;
    const std::optional<Identity> first = Identity::open(firstFolder.path(), nullptr);
    const std::optional<Identity> second = Identity::open(secondFolder.path(), nullptr);
    const QByteArray info = request("GET", "/api/localsend/v2/info");
    QCOMPARE(Device(kPhone, &*first).ask(info).status, 200);
    QCOMPARE(fixture.book.entry(0).certificate,
             first->certificate().digest(QCryptographicHash::Sha256));
    QCOMPARE(Device(kPhone, &*first).ask(info).status, 200);
    Device impostor(kPhone, &*second);
    QVERIFY(impostor.isClosed());
    QTRY_COMPARE_WITH_TIMEOUT(fixture.watch.ends.size(), 1, kWaitMs);
    QCOMPARE(fixture.watch.ends.first().outcome, ReceiveEnd::Outcome::Refused);
    QCOMPARE(fixture.watch.ends.first().reason.code, ReceiveReason::Code::KeyChanged);
    QCOMPARE(fixture.watch.ends.first().reason.why, QStringLiteral("Phone"));
}

void TestDeviceServer::serveTakesFilesAFolderAndAMessage()
{
    const QString serve = QStringLiteral("127.0.31.10");
    const QString phone = QStringLiteral("127.0.31.11");
    CliRun run;
    QTemporaryDir saveFolder, deviceFolder;
    QVERIFY(run.storeSettings(
        QStringLiteral("[IPaddress0]\nName=Phone\nIPaddress=%1\n").arg(phone).toUtf8()));
    run.start({QStringLiteral("serve"), QStringLiteral("--bind"), serve, QStringLiteral("--dir"),
               saveFolder.path()});
    QTRY_VERIFY_WITH_TIMEOUT(run.errors().contains(QStringLiteral("announcing to")), kWaitMs);
    const QDir device(deviceFolder.path());
    QVERIFY(device.mkpath(QStringLiteral("Trip/day 1")));
    const QByteArray big = someBytes(2 * 1024 * 1024);
    QVERIFY(writeFile(device.filePath(QStringLiteral("notes.txt")), "notes"));
    QVERIFY(writeFile(device.filePath(QStringLiteral("Trip/day 1/a.jpg")), big));
    QVERIFY(writeFile(device.filePath(QStringLiteral("Trip/b.jpg")), "bee"));

    SenderDevice files(
        phone, serve, deviceFolder.path(),
        {device.filePath(QStringLiteral("notes.txt")), device.filePath(QStringLiteral("Trip"))});
    QVERIFY(files.ended());
    QCOMPARE(files.process.exitCode(), 0);
    const QDir saved(saveFolder.path());
    QCOMPARE(readFile(saved.filePath(QStringLiteral("notes.txt"))), QByteArray("notes"));
    QCOMPARE(readFile(saved.filePath(QStringLiteral("Trip/day 1/a.jpg"))), big);
    QCOMPARE(readFile(saved.filePath(QStringLiteral("Trip/b.jpg"))), QByteArray("bee"));
    QTRY_VERIFY_WITH_TIMEOUT(run.output().count(QStringLiteral("\tlocalsend\n")) == 3, kWaitMs);
    QVERIFY(run.output().contains(QStringLiteral("received\t%1\t5\t%2\tlocalsend\n")
                                      .arg(saved.filePath(QStringLiteral("notes.txt")), phone)));

    SenderDevice message(phone, serve, deviceFolder.path(),
                         {QStringLiteral("--text"), QStringLiteral("<i>on my way</i>")});
    QVERIFY(message.ended());
    QCOMPARE(message.process.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        run.output().contains(QStringLiteral("chat\tPhone\t%1\t<i>on my way</i>\n").arg(phone)),
        kWaitMs);
}

QTEST_GUILESS_MAIN(TestDeviceServer)
#include "tst_deviceserver.moc"
