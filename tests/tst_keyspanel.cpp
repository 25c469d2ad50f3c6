#include "identity/identity.h"
#include "identity/safetycode.h"
#include "support/menuaction.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "window/mainwindow.h"

#include <QAction>
#include <QListWidget>
#include <QtTest>

namespace
{

const QHostAddress kAddress(QStringLiteral("127.0.5.10"));
const QHostAddress kAnna(QStringLiteral("127.0.5.11"));
const QByteArray kAnnaKey = QByteArray(32, '\x42');

} // namespace

class TestKeysPanel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void theBooksMenuComparesCodes();
    void forgetKeyAsksFirstAndStoresTheBook();
    void anIdentityOthersMayReadIsToldOnceAndTheWindowGoesOn();
    void aPinnedKeyAtANewAddressIsAskedAbout();

private:
    // A window over a book of Anna <b>, who has a key, and Bob, who has none.
    void load();
    void select(int row) { list()->setCurrentRow(row); }
    QListWidget* list()
    {
        return window_->findChild<QListWidget*>(QStringLiteral("ListIPaddress"));
    }
    void trigger(const QString& text)
    {
        QAction* found = menuAction(*list(), text);
        QVERIFY2(found, qPrintable(text));
        found->trigger();
    }

    std::unique_ptr<TestPlatform> p_;
    std::unique_ptr<Main> window_;
};

void TestKeysPanel::init()
{
    p_ = std::make_unique<TestPlatform>();
    p_->startWith(QStringLiteral("Anna <b>"), kAnna);
    p_->settings().write(QStringLiteral("IPaddress0"), QStringLiteral("Key"),
                         QString::fromLatin1(kAnnaKey.toHex()));
    p_->settings().write(QStringLiteral("IPaddress1"), QStringLiteral("Name"),
                         QStringLiteral("Bob"));
    p_->settings().write(QStringLiteral("IPaddress1"), QStringLiteral("IPaddress"),
                         QStringLiteral("127.0.5.12"));
    QVERIFY(p_->settings().save());
}

void TestKeysPanel::cleanup()
{
    window_.reset();
    p_.reset();
}

void TestKeysPanel::load()
{
    window_ = std::make_unique<Main>(p_->platform(), kAddress);
    QVERIFY(window_->Form_Load());
}

void TestKeysPanel::theBooksMenuComparesCodes()
{
    load();
    QVERIFY(p_->dialogs.calls.isEmpty());
    trigger(QStringLiteral("My Safety Code\u2026"));
    const std::optional<Identity> mine = Identity::open(p_->dataFolder(), nullptr);
    QVERIFY(mine);
    QCOMPARE(p_->dialogs.calls.size(), 1);
    QCOMPARE(p_->dialogs.calls[0].kind, QStringLiteral("notice"));
    QVERIFY2(p_->dialogs.calls[0].text.contains(mine->safetyCode()),
             qPrintable(p_->dialogs.calls[0].text));

    // Nothing selected: both entries that act on a selected one are disabled.
    for (const QString& text :
         {QStringLiteral("Compare Codes\u2026"), QStringLiteral("Forget Key\u2026")})
        QVERIFY2(!menuAction(*list(), text)->isEnabled(), qPrintable(text));
    QVERIFY(menuAction(*list(), QStringLiteral("My Safety Code\u2026"))->isEnabled());
    select(0);
    QVERIFY(menuAction(*list(), QStringLiteral("Forget Key\u2026"))->isEnabled());
    // Both copies show the pair's code; They Match marks the key compared.
    p_->dialogs.answers = {QStringLiteral("match")};
    trigger(QStringLiteral("Compare Codes\u2026"));
    QCOMPARE(p_->dialogs.calls.last().kind, QStringLiteral("compareCodes"));
    QCOMPARE(p_->dialogs.calls.last().title, pairCode(mine->key(), kAnnaKey));
    QVERIFY(p_->dialogs.calls.last().text.contains(QLatin1String("not yet compared")));
    QVERIFY(readFile(p_->settingsPath()).contains("KeyCompared=true"));
    // They Differ forgets it, and refuses it from then on.
    p_->dialogs.answers = {QStringLiteral("differ")};
    trigger(QStringLiteral("Compare Codes\u2026"));
    QVERIFY(p_->dialogs.calls.last().text.contains(QLatin1String("refuses the computer")));
    QVERIFY(!readFile(p_->settingsPath()).contains("\nKey="));
    QVERIFY(readFile(p_->settingsPath()).contains("RefusedKey=" + kAnnaKey.toHex()));
    select(1);
    trigger(QStringLiteral("Compare Codes\u2026"));
    QVERIFY2(p_->dialogs.calls.last().text.startsWith(QStringLiteral("Bob has no key yet")),
             qPrintable(p_->dialogs.calls.last().text));
}

void TestKeysPanel::forgetKeyAsksFirstAndStoresTheBook()
{
    load();
    select(1);
    trigger(QStringLiteral("Forget Key\u2026")); // Bob has none to forget
    QCOMPARE(p_->dialogs.calls.last().kind, QStringLiteral("notice"));

    select(0);
    p_->dialogs.answers = {QStringLiteral("no")};
    trigger(QStringLiteral("Forget Key\u2026"));
    QCOMPARE(p_->dialogs.calls.last().kind, QStringLiteral("ask"));
    QVERIFY(p_->dialogs.calls.last().text.startsWith(QStringLiteral("Forget Anna <b>'s key?")));
    QVERIFY(readFile(p_->settingsPath()).contains("Key=" + kAnnaKey.toHex()));

    p_->dialogs.answers = {QStringLiteral("yes")};
    trigger(QStringLiteral("Forget Key\u2026"));
    QVERIFY(!readFile(p_->settingsPath()).contains("Key="));
    QVERIFY(readFile(p_->settingsPath()).contains("Name=Bob"));
    trigger(QStringLiteral("Compare Codes\u2026"));
    QVERIFY(p_->dialogs.calls.last().text.startsWith(QStringLiteral("Anna <b> has no key yet")));
}

void TestKeysPanel::anIdentityOthersMayReadIsToldOnceAndTheWindowGoesOn()
{
    QVERIFY(Identity::open(p_->dataFolder(), nullptr));
    const QString path = p_->dataFolder() + QStringLiteral("/identity.pem");
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    load();
    QCOMPARE(p_->dialogs.calls.size(), 1);
    QCOMPARE(p_->dialogs.calls[0].kind, QStringLiteral("notice"));
    QVERIFY2(p_->dialogs.calls[0].text.contains(QStringLiteral("chmod 600 ") + path),
             qPrintable(p_->dialogs.calls[0].text));
    trigger(QStringLiteral("My Safety Code\u2026"));
    QVERIFY(p_->dialogs.calls.last().text.contains(QLatin1String("in the clear only")));
}

// The entry follows a pinned key only when the person says so; a compared key's move is
// news.
void TestKeysPanel::aPinnedKeyAtANewAddressIsAskedAbout()
{
    load();
    Station& station = window_->station();
    p_->dialogs.answers = {QStringLiteral("no")};
    Q_EMIT station.keyAtNewAddress(QStringLiteral("Anna <b>"), QStringLiteral("127.0.5.30"),
                                   kAnnaKey);
    QCOMPARE(p_->dialogs.calls.last().kind, QStringLiteral("ask"));
    QVERIFY(
        p_->dialogs.calls.last().text.contains(QLatin1String("Is Anna <b> now at 127.0.5.30?")));
    QCOMPARE(station.addressBook().entry(0).IPaddress, kAnna.toString());

    p_->dialogs.answers = {QStringLiteral("yes")};
    Q_EMIT station.keyAtNewAddress(QStringLiteral("Anna <b>"), QStringLiteral("127.0.5.30"),
                                   kAnnaKey);
    QCOMPARE(station.addressBook().entry(0).IPaddress, QStringLiteral("127.0.5.30"));
    QVERIFY(readFile(p_->settingsPath()).contains("IPaddress=127.0.5.30"));

    Q_EMIT station.personMoved(QStringLiteral("Anna <b>"), QStringLiteral("127.0.5.31"));
    QCOMPARE(p_->dialogs.calls.last().text, QStringLiteral("Anna <b> is now at 127.0.5.31."));
}

QTEST_MAIN(TestKeysPanel)
#include "tst_keyspanel.moc"
