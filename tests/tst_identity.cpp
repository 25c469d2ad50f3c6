#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"
#include "identity/certificatekey.h"
#include "identity/identity.h"
#include "identity/safetycode.h"
#include "platform/settingsstore.h"
#include "platform/sha256.h"
#include "support/foreignkeys.h"
#include "support/testfiles.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

const QString kCodeAlphabet = QStringLiteral("0123456789ABCDEFGHJKMNPQRSTVWXYZ");

QByteArray keyOfByte(char c)
{
    return QByteArray(32, c);
}

QByteArray certificateFor(const char* kind, const char* curve = nullptr)
{
    return foreignIdentity(kind, curve).certificateDer;
}

// Another user's, for whom this one is root.
constexpr uid_t kOtherUser = 65534;

mode_t modeOf(const QString& path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 0777 : 0;
}

} // namespace

class TestIdentity : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void openMakesAPrivateFileAndReadsItAgain();
    void openRefusesAFileOthersMayRead();
    void openRefusesAnotherUsersFile();
    void openRefusesAKeyThatIsNotItsCertificates();
    void safetyCodeIsTenGroupsOfFourThatTellKeysApart();
    void keyTextRoundTripsAndRejectsOtherTexts();
    void bookKeepsKeysInTheirSectionsAndForgetsThem();
    void peerKeysPinVerifyAndRefuse();
    void keysArePinnedUntilCompared();
    void theAddressFollowsTheKey();
    void thePairCodeIsTheSameOnBothSides();
    void onlyP256KeysAreTaken();
};

void TestIdentity::openMakesAPrivateFileAndReadsItAgain()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("data/deeper"));
    QString error;
    const std::optional<Identity> first = Identity::open(folder, &error);
    QVERIFY2(first, qPrintable(error));
    const QString path = folder + QStringLiteral("/identity.pem");
    QCOMPARE(modeOf(path), mode_t(0600));
    QCOMPARE(first->key().size(), 32);
    QCOMPARE(first->key(), keyOf(first->certificate()));
    QVERIFY(!first->privateKey().isNull());

    const QByteArray pem = readFile(path);
    const std::optional<Identity> second = Identity::open(folder, &error);
    QVERIFY2(second, qPrintable(error));
    QCOMPARE(second->key(), first->key());
    QCOMPARE(second->privateKey().toPem(), first->privateKey().toPem());
    QCOMPARE(readFile(path), pem);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"identity.pem"});

    QTemporaryDir other;
    const std::optional<Identity> third = Identity::open(other.path(), &error);
    QVERIFY2(third, qPrintable(error));
    QVERIFY(third->key() != first->key());
}

void TestIdentity::openRefusesAFileOthersMayRead()
{
    QTemporaryDir dir;
    QString error;
    QVERIFY(Identity::open(dir.path(), &error));
    const QString path = dir.filePath(QStringLiteral("identity.pem"));
    const QByteArray pem = readFile(path);

    for (const mode_t mode : {mode_t(0640), mode_t(0604), mode_t(0620)}) {
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
        error.clear();
        QVERIFY(!Identity::open(dir.path(), &error));
        QVERIFY2(error.contains(QStringLiteral("chmod 600 ") + path), qPrintable(error));
        QCOMPARE(readFile(path), pem);
        QCOMPARE(modeOf(path), mode);
    }
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0600) == 0);
    QVERIFY(Identity::open(dir.path(), nullptr));

    QVERIFY(writeFile(path, "not a key"));
    QVERIFY(!Identity::open(dir.path(), &error));
    QVERIFY2(error.contains(QLatin1String("no usable key")), qPrintable(error));
    QCOMPARE(readFile(path), QByteArray("not a key"));
}

void TestIdentity::openRefusesAnotherUsersFile()
{
    if (::geteuid() != 0)
        QSKIP("only root can give a file to another user");
    QTemporaryDir dir;
    QVERIFY(Identity::open(dir.path(), nullptr));
    const QString path = dir.filePath(QStringLiteral("identity.pem"));
    QVERIFY(::chown(QFile::encodeName(path).constData(), kOtherUser, gid_t(-1)) == 0);
    QString error;
    QVERIFY(!Identity::open(dir.path(), &error));
    QVERIFY2(error.contains(path + QStringLiteral(" belongs to another user (uid 65534)")) &&
                 !error.contains(QLatin1String("chmod")),
             qPrintable(error));
}

// The key of one identity with the certificate of another.
void TestIdentity::openRefusesAKeyThatIsNotItsCertificates()
{
    QTemporaryDir own;
    QTemporaryDir other;
    QVERIFY(Identity::open(own.path(), nullptr) && Identity::open(other.path(), nullptr));
    const QString path = own.filePath(QStringLiteral("identity.pem"));
    const QByteArray ownPem = readFile(path);
    const QByteArray otherPem = readFile(other.filePath(QStringLiteral("identity.pem")));
    const QByteArray certificateStart = "-----BEGIN CERTIFICATE-----";
    const QByteArray spliced = ownPem.left(ownPem.indexOf(certificateStart)) +
                               otherPem.mid(otherPem.indexOf(certificateStart));
    QVERIFY(spliced != ownPem && writeFile(path, spliced));

    QString error;
    QVERIFY(!Identity::open(own.path(), &error));
    QVERIFY2(error.contains(path + QStringLiteral(" holds a private key that does not belong")),
             qPrintable(error));
    QCOMPARE(readFile(path), spliced);
}

void TestIdentity::safetyCodeIsTenGroupsOfFourThatTellKeysApart()
{
    QTemporaryDir dir;
    const std::optional<Identity> identity = Identity::open(dir.path(), nullptr);
    QVERIFY(identity);
    const QString code = identity->safetyCode();
    QCOMPARE(code, safetyCode(identity->key()));
    const QStringList groups = code.split(QLatin1Char(' '));
    QCOMPARE(groups.size(), 10);
    for (const QString& group : groups) {
        QCOMPARE(group.size(), 4);
        for (const QChar c : group)
            QVERIFY2(kCodeAlphabet.contains(c), qPrintable(code));
    }

    // Five bits to a character, most significant first.
    QByteArray key(32, '\0');
    key[0] = char(0x08); // 00001 000...
    QCOMPARE(safetyCode(key).left(4), QStringLiteral("1000"));
    QCOMPARE(safetyCode(keyOfByte(char(0xFF))).left(9), QStringLiteral("ZZZZ ZZZZ"));

    // Any one bit of the first 200 changes the code.
    QSet<QString> codes;
    for (int bit = 0; bit < 200; ++bit) {
        QByteArray flipped(32, '\0');
        flipped[bit / 8] = char(0x80 >> (bit % 8));
        codes.insert(safetyCode(flipped));
    }
    QCOMPARE(codes.size(), 200);
}

void TestIdentity::keyTextRoundTripsAndRejectsOtherTexts()
{
    const QByteArray key =
        QByteArray::fromHex("00ff102030405060708090a0b0c0d0e0f00102030405060708090a0b0c0d0eff");
    QCOMPARE(keyText(key).size(), 64);
    QCOMPARE(keyText(key), keyText(key).toLower());
    QCOMPARE(keyFromText(keyText(key)), key);
    QCOMPARE(keyFromText(keyText(key).toUpper()), key);
    QVERIFY(keyFromText(keyText(key).left(62)).isEmpty());
    QVERIFY(keyFromText(keyText(key) + "00").isEmpty());
    QVERIFY(keyFromText(keyText(key).replace(0, 1, QLatin1Char('g'))).isEmpty());
    QVERIFY(keyFromText(QString()).isEmpty());
}

void TestIdentity::bookKeepsKeysInTheirSectionsAndForgetsThem()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quillo.conf"));
    {
        SettingsStore store(path);
        store.write(QStringLiteral("IPaddress1"), QStringLiteral("Colour"), QStringLiteral("red"));
        store.write(QStringLiteral("IPaddress1"), QStringLiteral("Key"), QStringLiteral("junk"));
        QVERIFY(store.save());
    }
    AddressBook book;
    book.append(QStringLiteral("Anna"), QStringLiteral("127.0.5.1"));
    book.append(QStringLiteral("Bob"), QStringLiteral("127.0.5.2"));
    book.setKey(1, keyOfByte('b'));
    {
        SettingsStore store(path);
        book.store(store);
        QVERIFY(store.save());
    }
    const QByteArray written = readFile(path);
    QVERIFY(written.contains("Key=" + keyOfByte('b').toHex() + "\n"));
    QVERIFY(written.contains("Colour=red"));
    QCOMPARE(written.count("Key="), 1);

    AddressBook loaded;
    {
        SettingsStore store(path);
        loaded.load(store);
    }
    QCOMPARE(loaded.count(), 2);
    QVERIFY(loaded.entry(0).Key.isEmpty());
    QCOMPARE(loaded.entry(1).Key, keyOfByte('b'));

    loaded.setKey(1, {});
    {
        SettingsStore store(path);
        loaded.store(store);
        QVERIFY(store.save());
    }
    QVERIFY(!readFile(path).contains("Key="));
    QVERIFY(readFile(path).contains("Colour=red"));

    // A key that is not 64 hex digits loads as none.
    SettingsStore store(path);
    store.write(QStringLiteral("IPaddress0"), QStringLiteral("Key"), QString(63, QLatin1Char('a')));
    AddressBook damaged;
    damaged.load(store);
    QVERIFY(damaged.entry(0).Key.isEmpty());
}

void TestIdentity::peerKeysPinVerifyAndRefuse()
{
    AddressBook book;
    book.append(QStringLiteral("Other"), QStringLiteral("127.0.5.9"));
    book.append(QStringLiteral("Anna"), QStringLiteral("127.0.5.1"));
    book.append(QStringLiteral("Anna at work"), QStringLiteral("127.0.5.1"));
    PeerKeys keys(book);
    QSignalSpy changed(&keys, &PeerKeys::keysChanged);
    using V = KeyCheck::Verdict;

    QVERIFY(!keys.hasKey(QStringLiteral("127.0.5.1")));
    KeyCheck check = keys.check(QStringLiteral("127.0.5.1"), keyOfByte('a'));
    QCOMPARE(check.verdict, V::Pinned);
    QCOMPARE(check.name, QStringLiteral("Anna"));
    QVERIFY(check.isVerified() && !check.isRefused() && !check.compared);
    QCOMPARE(book.entry(1).Key, keyOfByte('a'));
    QVERIFY(book.entry(0).Key.isEmpty() && book.entry(2).Key.isEmpty());
    QCOMPARE(changed.size(), 1);
    QVERIFY(keys.hasKey(QStringLiteral("127.0.5.1")));
    QVERIFY(!keys.hasKey(QStringLiteral("127.0.5.9")));

    check = keys.check(QStringLiteral("127.0.5.1"), keyOfByte('a'));
    QCOMPARE(check.verdict, V::Known);
    QCOMPARE(check.name, QStringLiteral("Anna"));

    check = keys.check(QStringLiteral("127.0.5.1"), keyOfByte('z'));
    QCOMPARE(check.verdict, V::NotShown);
    QCOMPARE(check.name, QStringLiteral("Anna"));
    QVERIFY(check.isRefused() && !check.isVerified());
    QCOMPARE(book.entry(1).Key, keyOfByte('a'));
    QVERIFY(book.entry(2).Key.isEmpty());
    QCOMPARE(changed.size(), 1);

    check = keys.check(QStringLiteral("127.0.5.7"), keyOfByte('s'));
    QCOMPARE(check.verdict, V::Stranger);
    QVERIFY(check.name.isEmpty());
    QVERIFY(!check.isVerified() && !check.isRefused());

    // Dialled by a host name that resolved to Anna's address, the key is expected there;
    // another entry's key at that address is refused and pinned nowhere.
    const QStringList dialled{QStringLiteral("anna.lan"), QStringLiteral("127.0.5.1")};
    QCOMPARE(keys.checkDialled(dialled, keyOfByte('a')).verdict, V::Known);
    QCOMPARE(keys.checkDialled(dialled, keyOfByte('z')).verdict, V::NotShown);
    QCOMPARE(keys.check(QStringLiteral("127.0.5.9"), keyOfByte('o')).verdict, V::Pinned);
    QCOMPARE(keys.checkDialled({QStringLiteral("127.0.5.9")}, keyOfByte('a')).verdict, V::NotShown);

    keys.forget(1);
    QVERIFY(book.entry(1).Key.isEmpty());
    QCOMPARE(changed.size(), 3);
    keys.forget(1); // nothing to forget: nothing to store
    QCOMPARE(changed.size(), 3);
    QCOMPARE(keys.check(QStringLiteral("127.0.5.1"), keyOfByte('z')).verdict, V::Pinned);
    QCOMPARE(book.entry(1).Key, keyOfByte('z'));

    // A key held under an empty name still refuses another key.
    AddressBook unnamed;
    unnamed.append(QString(), QStringLiteral("127.0.5.3"));
    unnamed.setKey(0, keyOfByte('a'));
    PeerKeys unnamedKeys(unnamed);
    QCOMPARE(unnamedKeys.check(QStringLiteral("127.0.5.3"), keyOfByte('b')).verdict, V::NotShown);
    QCOMPARE(unnamed.entry(0).Key, keyOfByte('a'));
}

// Pinned at first contact, compared once a person says so, and refused once they say the
// codes differ; settings written before the mark read as pinned.
void TestIdentity::keysArePinnedUntilCompared()
{
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("Quillo.conf")));
    store.write(QStringLiteral("IPaddress0"), QStringLiteral("Name"), QStringLiteral("Anna"));
    store.write(QStringLiteral("IPaddress0"), QStringLiteral("IPaddress"),
                QStringLiteral("127.0.5.1"));
    store.write(QStringLiteral("IPaddress0"), QStringLiteral("Key"), keyText(keyOfByte('a')));
    AddressBook book;
    book.load(store);
    QVERIFY(!book.entry(0).KeyCompared);
    QVERIFY(!keyCompared(book, QStringLiteral("Anna")));

    PeerKeys keys(book);
    keys.markCompared(0);
    QVERIFY(keyCompared(book, QStringLiteral("Anna")));
    QVERIFY(keys.check(QStringLiteral("127.0.5.1"), keyOfByte('a')).compared);
    book.store(store);
    AddressBook reloaded;
    reloaded.load(store);
    QVERIFY(reloaded.entry(0).KeyCompared);
    reloaded.setKey(0, keyOfByte('b')); // a new key starts pinned
    QVERIFY(!reloaded.entry(0).KeyCompared);

    // They differ: forgotten, and the same key is not pinned again from that address.
    keys.refuse(0);
    QVERIFY(book.entry(0).Key.isEmpty());
    QCOMPARE(keys.check(QStringLiteral("127.0.5.1"), keyOfByte('a')).verdict,
             KeyCheck::Verdict::NotShown);
    QVERIFY(book.entry(0).Key.isEmpty());
    book.store(store);
    AddressBook refused;
    refused.load(store);
    QCOMPARE(refused.entry(0).RefusedKey, keyOfByte('a'));
    keys.forget(0);
    QCOMPARE(keys.check(QStringLiteral("127.0.5.1"), keyOfByte('a')).verdict,
             KeyCheck::Verdict::Pinned);
}

// A person is their key: a compared key takes its entry to the address it comes from, a
// pinned one is asked about, and a key two entries hold is refused.
void TestIdentity::theAddressFollowsTheKey()
{
    AddressBook book;
    book.append(QStringLiteral("Anna"), QStringLiteral("127.0.5.1"));
    book.append(QStringLiteral("Bob"), QStringLiteral("127.0.5.2"));
    book.append(QStringLiteral("Carl"), QStringLiteral("carl.lan"));
    book.setKey(0, keyOfByte('a'));
    book.setKeyCompared(0, true);
    book.setKey(1, keyOfByte('b'));
    book.setKey(2, keyOfByte('c'));
    PeerKeys keys(book);
    QSignalSpy moved(&keys, &PeerKeys::moved);
    QSignalSpy asked(&keys, &PeerKeys::keyAtNewAddress);

    KeyCheck check = keys.check(QStringLiteral("127.0.5.23"), keyOfByte('a'));
    QCOMPARE(check.verdict, KeyCheck::Verdict::Known);
    QCOMPARE(check.name, QStringLiteral("Anna"));
    QCOMPARE(book.entry(0).IPaddress, QStringLiteral("127.0.5.23"));
    QCOMPARE(moved.size(), 1);
    QCOMPARE(personMovedText(moved[0][0].toString(), moved[0][1].toString()),
             QStringLiteral("Anna is now at 127.0.5.23"));
    keys.check(QStringLiteral("127.0.5.23"), keyOfByte('a'));
    QCOMPARE(moved.size(), 1); // told once

    for (int i = 0; i < 2; ++i)
        QCOMPARE(keys.check(QStringLiteral("127.0.5.24"), keyOfByte('b')).name,
                 QStringLiteral("Bob"));
    QCOMPARE(book.entry(1).IPaddress, QStringLiteral("127.0.5.2"));
    QCOMPARE(asked.size(), 1); // asked once
    QCOMPARE(asked[0][1].toString(), QStringLiteral("127.0.5.24"));
    QVERIFY(keys.follow(keyOfByte('b'), QStringLiteral("127.0.5.24")));
    QCOMPARE(book.entry(1).IPaddress, QStringLiteral("127.0.5.24"));

    // A host name stays as typed.
    QCOMPARE(keys.check(QStringLiteral("127.0.5.25"), keyOfByte('c')).name, QStringLiteral("Carl"));
    QCOMPARE(book.entry(2).IPaddress, QStringLiteral("carl.lan"));

    book.setKey(2, keyOfByte('b'));
    check = keys.check(QStringLiteral("127.0.5.26"), keyOfByte('b'));
    QCOMPARE(check.verdict, KeyCheck::Verdict::Shared);
    QVERIFY(check.isRefused());
    QVERIFY(!keys.follow(keyOfByte('b'), QStringLiteral("127.0.5.26")));
    QCOMPARE(keys.check(QStringLiteral("127.0.5.24"), keyOfByte('b')).name, QStringLiteral("Bob"));
}

// Both copies show the same code for a pair, and another pair has another.
void TestIdentity::thePairCodeIsTheSameOnBothSides()
{
    const QString code = pairCode(keyOfByte('a'), keyOfByte('b'));
    QCOMPARE(pairCode(keyOfByte('b'), keyOfByte('a')), code);
    QVERIFY(QRegularExpression(QStringLiteral("^(\\d{5} ){6}\\d{5}$")).match(code).hasMatch());
    QVERIFY(pairCode(keyOfByte('a'), keyOfByte('c')) != code);
    QVERIFY(pairCode(keyOfByte('c'), keyOfByte('b')) != code);
    QVERIFY(code != pairCode(keyOfByte('a'), keyOfByte('a')));
}

// Only ECDSA P-256 keys are taken, hashed as the certificate holds them.
void TestIdentity::onlyP256KeysAreTaken()
{
    QTemporaryDir dir;
    const std::optional<Identity> identity = Identity::open(dir.path(), nullptr);
    QVERIFY(identity);
    const QByteArray der = identity->certificate().toDer();
    QCOMPARE(identity->key(), Sha256::of(subjectPublicKeyInfo(der)));
    // The keys pinned before were taken from Qt's form of the same key: they still match.
    QCOMPARE(identity->key(), Sha256::of(identity->certificate().publicKey().toDer()));

    const auto refusal = [](const QByteArray& certificate) {
        const auto key = certificateKey(certificate);
        return std::holds_alternative<QString>(key) ? std::get<QString>(key) : QString();
    };
    QVERIFY(refusal(der).isEmpty());
    QVERIFY2(refusal(certificateFor("RSA")).contains(QLatin1String("an RSA key")),
             qPrintable(refusal(certificateFor("RSA"))));
    QVERIFY(refusal(certificateFor("ED25519")).contains(QLatin1String("an Ed25519 key")));
    QVERIFY(refusal(certificateFor("EC", "P-384")).contains(QLatin1String("another curve")));
    QVERIFY(!refusal({}).isEmpty());
    QVERIFY(!refusal(der.left(der.size() / 2)).isEmpty());
    QVERIFY(!refusal("\x30\x84\xff\xff\xff\xff").isEmpty());
    QVERIFY(keyOf(QSslCertificate(certificateFor("RSA"), QSsl::Der)).isEmpty());
}

QTEST_MAIN(TestIdentity)
#include "tst_identity.moc"
