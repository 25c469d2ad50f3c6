#include "addressbook/addressbook.h"
#include "station/station.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "window/addressbookpanel.h"

#include <QAction>
#include <QListWidget>
#include <QSettings>
#include <QtTest>

#include <memory>

namespace
{

QString section(int n)
{
    return QStringLiteral("IPaddress%1").arg(n);
}

void storeEntry(SettingsStore& store, int n, const QString& name, const QString& address)
{
    store.write(section(n), QStringLiteral("Name"), name);
    store.write(section(n), QStringLiteral("IPaddress"), address);
}

QStringList rows(const QListWidget& list)
{
    QStringList result;
    for (int i = 0; i < list.count(); ++i)
        result << list.item(i)->text();
    return result;
}

QStringList names(const AddressBook& book)
{
    QStringList result;
    for (int i = 0; i < book.count(); ++i)
        result << book.entry(i).Name;
    return result;
}

// The sections present in the file on disk, read with a fresh QSettings.
QStringList storedSections(const QString& path)
{
    QSettings file(path, QSettings::IniFormat);
    QStringList groups = file.childGroups();
    groups.sort();
    return groups;
}

} // namespace

class TestAddressBook : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadSkipsGapsBlankAndEmptyNames();
    void loadTakesAllFiftyOneSectionsAndNoMore();
    void storeCompactsAndRemovesTheRest();
    void roundTripKeepsTextsExactly();
    void removeInTheMiddleKeepsRowsAndSlotsInStep();
    void addAsksBothQuestionsAndStoresUntrimmed();
    void addRefusesBlankAnswers_data();
    void addRefusesBlankAnswers();
    void addWhenFullTellsTheUserAndStoresNothing();
    void editShowsCurrentAddressAndKeepsItOnBlank();
    void questionsDoNotWaitAndLateAnswersAreSafe();
    void deleteAndEditWithoutSelectionDoNothing();
    void everyChangeIsWrittenAtOnceAndAFailedWriteIsTold();
    void editAsksHowTheEntryIsReached();
    void groupsFollowThePeopleAndSendToTheirMembers();
};

void TestAddressBook::loadSkipsGapsBlankAndEmptyNames()
{
    TestPlatform p;
    storeEntry(p.settings(), 0, QStringLiteral("Anna"), QStringLiteral("10.0.0.1"));
    storeEntry(p.settings(), 2, QStringLiteral("blank"), QStringLiteral("10.0.0.2"));
    storeEntry(p.settings(), 3, QString(), QStringLiteral("10.0.0.3"));
    p.settings().write(section(5), QStringLiteral("Name"), QStringLiteral("Carl")); // no address
    storeEntry(p.settings(), 50, QStringLiteral("Blank"), QStringLiteral("10.0.0.50"));

    AddressBook book;
    book.load(p.settings());

    QCOMPARE(names(book), (QStringList{"Anna", "Carl", "Blank"}));
    QCOMPARE(book.entry(1).IPaddress, QStringLiteral("blank"));
    QCOMPARE(book.entry(2).IPaddress, QStringLiteral("10.0.0.50"));
}

void TestAddressBook::loadTakesAllFiftyOneSectionsAndNoMore()
{
    TestPlatform p;
    for (int n = 0; n <= 51; ++n)
        storeEntry(p.settings(), n, QStringLiteral("P%1").arg(n),
                   QStringLiteral("10.1.0.%1").arg(n));

    AddressBook book;
    book.load(p.settings());

    QCOMPARE(book.count(), 51);
    QVERIFY(book.isFull());
    QCOMPARE(book.entry(50).Name, QStringLiteral("P50"));
}

void TestAddressBook::storeCompactsAndRemovesTheRest()
{
    TestPlatform p;
    for (int n = 0; n < 5; ++n)
        storeEntry(p.settings(), n, QStringLiteral("Old%1").arg(n), QStringLiteral("x"));
    p.settings().write(QStringLiteral("Settings"), QStringLiteral("SaveDir"),
                       QStringLiteral("/in/"));
    p.settings().write(section(51), QStringLiteral("Name"), QStringLiteral("beyond"));
    QVERIFY(p.settings().save());

    AddressBook book;
    book.append(QStringLiteral("A"), QStringLiteral("1"));
    book.append(QStringLiteral("B"), QString());
    book.store(p.settings());
    QVERIFY(p.settings().save());

    QCOMPARE(storedSections(p.settingsPath()),
             (QStringList{"IPaddress0", "IPaddress1", "IPaddress51", "Settings"}));
    p.reopenSettings();
    QCOMPARE(p.settings().read(section(1), QStringLiteral("IPaddress"), QStringLiteral("missing")),
             QString());

    AddressBook empty;
    empty.store(p.settings());
    QVERIFY(p.settings().save());
    QCOMPARE(storedSections(p.settingsPath()), (QStringList{"IPaddress51", "Settings"}));
}

void TestAddressBook::roundTripKeepsTextsExactly()
{
    const QStringList texts{" Bob ", "Smith, John",       "a=b;c",     "[x]", "#1", "Zoë \"Z\"",
                            "@home", "\\\\server\\share", " 10.0.0.7 "};
    TestPlatform p;
    AddressBook book;
    for (const QString& text : texts)
        book.append(text, text);
    book.store(p.settings());
    QVERIFY(p.settings().save());

    p.reopenSettings();
    AddressBook loaded;
    loaded.load(p.settings());
    QCOMPARE(names(loaded), texts);
    for (int i = 0; i < texts.size(); ++i)
        QCOMPARE(loaded.entry(i).IPaddress, texts[i]);
}

// A panel with its list over a station loaded with the given names; each address is the
// name in lower case. What the station tells is a notice, as in the window.
struct PanelFixture {
    explicit PanelFixture(const QStringList& names)
    {
        for (int n = 0; n < names.size(); ++n)
            storeEntry(p.settings(), n, names[n], names[n].toLower());
        QObject::connect(&station, &Station::problem, &station,
                         [this](const QString& message) { p.dialogs.notice(message); });
        station.load();
    }
    void select(int row) { list.setCurrentRow(row); }
    const AddressBook& book() const { return station.addressBook(); }

    TestPlatform p;
    QListWidget list;
    Station station{p.settings(), p.random, p.dataFolder(), QHostAddress::LocalHost};
    AddressBookPanel panel{list, p.dialogs, station};
};

void TestAddressBook::removeInTheMiddleKeepsRowsAndSlotsInStep()
{
    PanelFixture f({"A", "B", "C"});
    f.select(1);
    f.panel.BUTTdeleteAddress_Click();

    QCOMPARE(rows(f.list), (QStringList{"A", "C"}));
    QCOMPARE(names(f.book()), (QStringList{"A", "C"}));
    QCOMPARE(f.book().entry(1).IPaddress, QStringLiteral("c"));
    QVERIFY(f.p.dialogs.calls.isEmpty());

    // The freed slot is the next one filled.
    f.p.dialogs.answers = {"D", "d"};
    f.panel.BUTTaddNewAddress_Click();
    QCOMPARE(rows(f.list), (QStringList{"A", "C", "D"}));
    QCOMPARE(f.book().entry(2).IPaddress, QStringLiteral("d"));

    // Deleting the last row shrinks both.
    f.select(2);
    f.panel.BUTTdeleteAddress_Click();
    QCOMPARE(rows(f.list), (QStringList{"A", "C"}));
    QCOMPARE(f.book().count(), 2);
}

void TestAddressBook::addAsksBothQuestionsAndStoresUntrimmed()
{
    PanelFixture f({"A"});
    f.select(0);
    f.p.dialogs.answers = {"Bob", " 10.0.0.7 "};
    f.panel.BUTTaddNewAddress_Click();

    QCOMPARE(f.p.dialogs.calls.size(), 2);
    const QString title = QStringLiteral("New IP Address Book Entry");
    QCOMPARE(f.p.dialogs.calls[0].kind, QStringLiteral("input"));
    QCOMPARE(f.p.dialogs.calls[0].text, QStringLiteral("Please Type the name of the Person"));
    QCOMPARE(f.p.dialogs.calls[0].title, title);
    QCOMPARE(f.p.dialogs.calls[0].preset, QString());
    QCOMPARE(f.p.dialogs.calls[1].text, QStringLiteral("Please Type Bob's IP address"));
    QCOMPARE(f.p.dialogs.calls[1].title, title);
    QCOMPARE(rows(f.list), (QStringList{"A", "Bob"}));
    QCOMPARE(f.book().entry(1).IPaddress, QStringLiteral(" 10.0.0.7 "));
    QCOMPARE(f.panel.selectedSlot(), 0);
}

void TestAddressBook::addRefusesBlankAnswers_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("secondPrompt");
    QTest::newRow("first box cancelled") << QStringList{} << "Please Type 's IP address";
    QTest::newRow("blank name") << QStringList{"   ", "10.0.0.1"} << "Please Type    's IP address";
    QTest::newRow("empty address") << QStringList{"Bob", ""} << "Please Type Bob's IP address";
    QTest::newRow("blank address") << QStringList{"Bob", "  "} << "Please Type Bob's IP address";
}

void TestAddressBook::addRefusesBlankAnswers()
{
    QFETCH(QStringList, answers);
    QFETCH(QString, secondPrompt);
    PanelFixture f({"A"});
    f.p.dialogs.answers = answers;
    f.panel.BUTTaddNewAddress_Click();

    QCOMPARE(f.p.dialogs.calls.size(), 2); // both asked, no message
    QCOMPARE(f.p.dialogs.calls[1].text, secondPrompt);
    QCOMPARE(rows(f.list), (QStringList{"A"}));
    QCOMPARE(f.book().count(), 1);
}

void TestAddressBook::addWhenFullTellsTheUserAndStoresNothing()
{
    QStringList fiftyOne;
    for (int n = 0; n < 51; ++n)
        fiftyOne << QStringLiteral("P%1").arg(n);
    PanelFixture f(fiftyOne);
    f.p.dialogs.answers = {"Extra", "10.9.9.9"};
    f.panel.BUTTaddNewAddress_Click();

    QCOMPARE(f.p.dialogs.calls.size(), 3);
    QCOMPARE(f.p.dialogs.calls[2].kind, QStringLiteral("notice"));
    QVERIFY(f.p.dialogs.calls[2].text.contains(QLatin1String("full")));
    QCOMPARE(f.list.count(), 51);
    QCOMPARE(f.book().entry(50).Name, QStringLiteral("P50"));
}

void TestAddressBook::editShowsCurrentAddressAndKeepsItOnBlank()
{
    PanelFixture f({"A", " B "});
    f.select(1);

    f.p.dialogs.answers = {"   "};
    f.panel.BUTTeditAddress_Click();
    QCOMPARE(f.p.dialogs.calls[0].text, QStringLiteral("Change the IP Address for  B "));
    QCOMPARE(f.p.dialogs.calls[0].title, QStringLiteral("Edit Entry"));
    QCOMPARE(f.p.dialogs.calls[0].preset, QStringLiteral(" b "));
    QCOMPARE(f.book().entry(1).IPaddress, QStringLiteral(" b "));

    f.panel.BUTTeditAddress_Click(); // cancelled
    QCOMPARE(f.book().entry(1).IPaddress, QStringLiteral(" b "));

    f.p.dialogs.answers = {" 10.0.0.9"};
    f.panel.BUTTeditAddress_Click();
    QCOMPARE(f.book().entry(1).IPaddress, QStringLiteral(" 10.0.0.9"));
    QCOMPARE(f.book().entry(1).Name, QStringLiteral(" B "));
    QCOMPARE(rows(f.list), (QStringList{"A", " B "}));
}

void TestAddressBook::questionsDoNotWaitAndLateAnswersAreSafe()
{
    auto f = std::make_unique<PanelFixture>(QStringList{"A", "B"});
    ScriptedDialogs& dialogs = f->p.dialogs;
    dialogs.holdInputs = true;

    // The handler returns with its first question open; the second comes with the answer.
    f->panel.BUTTaddNewAddress_Click();
    QCOMPARE(dialogs.heldInputs.size(), 1);
    dialogs.heldInputs.takeFirst()(QStringLiteral("Dana"));
    QCOMPARE(dialogs.calls.last().text, QStringLiteral("Please Type Dana's IP address"));
    QCOMPARE(rows(f->list), (QStringList{"A", "B"}));
    dialogs.heldInputs.takeFirst()(QStringLiteral("10.0.0.4"));
    QCOMPARE(rows(f->list), (QStringList{"A", "B", "Dana"}));

    // An entry deleted while its edit was open is not brought back or confused.
    f->select(0);
    f->panel.BUTTeditAddress_Click();
    f->panel.BUTTdeleteAddress_Click();
    dialogs.heldInputs.takeFirst()(QStringLiteral("10.0.0.9"));
    QCOMPARE(names(f->book()), (QStringList{"B", "Dana"}));
    QCOMPARE(f->book().entry(0).IPaddress, QStringLiteral("b"));

    // An answer that comes after the panel is gone is dropped.
    f->select(0);
    f->panel.BUTTeditAddress_Click();
    const Dialogs::TextEntered late = dialogs.heldInputs.takeFirst();
    f.reset();
    late(QStringLiteral("10.0.0.9")); // under the sanitizers, a use after free would show
}

void TestAddressBook::deleteAndEditWithoutSelectionDoNothing()
{
    PanelFixture f({"A", "B"});
    QCOMPARE(f.panel.selectedSlot(), -1);
    f.panel.BUTTeditAddress_Click();
    f.panel.BUTTdeleteAddress_Click();
    QVERIFY(f.p.dialogs.calls.isEmpty());
    QCOMPARE(rows(f.list), (QStringList{"A", "B"}));

    // A current row that is not selected is no selection either.
    f.select(1);
    f.list.clearSelection();
    f.panel.BUTTdeleteAddress_Click();
    QCOMPARE(f.list.count(), 2);
}

void TestAddressBook::editAsksHowTheEntryIsReached()
{
    PanelFixture f({"A"});
    f.select(0);
    f.p.dialogs.answers = {"10.0.0.8", "LocalSend 53318"};
    f.panel.BUTTeditAddress_Click();
    QCOMPARE(f.p.dialogs.calls.size(), 2);
    QCOMPARE(f.p.dialogs.calls[1].preset, QStringLiteral("find out"));
    QCOMPARE(f.book().entry(0).speaks, Speaks::LocalSend);
    QVERIFY(f.book().entry(0).speaksChosen);
    QCOMPARE(f.book().entry(0).localSendPort, quint16(53318));
    QVERIFY(readFile(f.p.settingsPath()).contains("Speaks=localsend"));

    // The choice shows as it was made; one that is none of the choices changes nothing.
    for (const char* wrong : {"localsend 70000", "banana", "quillo 3"}) {
        f.p.dialogs.answers = {"10.0.0.8", wrong};
        f.panel.BUTTeditAddress_Click();
        QCOMPARE(f.p.dialogs.calls.last().kind, QStringLiteral("notice"));
        QCOMPARE(f.book().entry(0).localSendPort, quint16(53318));
    }
    QCOMPARE(f.p.dialogs.calls[3].preset, QStringLiteral("localsend 53318"));

    f.p.dialogs.answers = {"10.0.0.8", "quillo"};
    f.panel.BUTTeditAddress_Click();
    QCOMPARE(f.book().entry(0).speaks, Speaks::Private);
    f.p.dialogs.answers = {"10.0.0.8", "find out"};
    f.panel.BUTTeditAddress_Click();
    QCOMPARE(f.book().entry(0).speaks, Speaks::Unknown);
    QVERIFY(!f.book().entry(0).speaksChosen);
}

void TestAddressBook::everyChangeIsWrittenAtOnceAndAFailedWriteIsTold()
{
    PanelFixture f({"A"});
    const QString path = f.p.settingsPath();
    f.p.dialogs.answers = {"Bob", "10.0.0.7"};
    f.panel.BUTTaddNewAddress_Click();
    QCOMPARE(readFile(path), QByteArray("[IPaddress0]\nIPaddress=a\nName=A\n\n"
                                        "[IPaddress1]\nIPaddress=10.0.0.7\nName=Bob\n"));

    f.select(1);
    f.p.dialogs.answers = {"10.0.0.8"};
    f.panel.BUTTeditAddress_Click();
    QVERIFY(readFile(path).contains("IPaddress=10.0.0.8"));

    f.select(0);
    f.panel.BUTTdeleteAddress_Click();
    QCOMPARE(readFile(path), QByteArray("[IPaddress0]\nIPaddress=10.0.0.8\nName=Bob\n"));
    QCOMPARE(f.p.dialogs.calls.size(), 4); // the questions only

    // Not even root can write a file where a folder stands.
    QVERIFY(QFile::remove(path));
    QVERIFY(QDir().mkdir(path));
    f.p.dialogs.answers = {"Cy", "10.0.0.9"};
    f.panel.BUTTaddNewAddress_Click();
    QCOMPARE(f.p.dialogs.calls.size(), 7);
    const DialogCall& told = f.p.dialogs.calls.last();
    QCOMPARE(told.kind, QStringLiteral("notice"));
    QCOMPARE(told.text, QStringLiteral("Quillo could not write its settings file %1. The change to "
                                       "the address book was not saved.")
                            .arg(path));
}

// A group is made from the selected people, listed after them with its mark, and sent to
// as its members; deleting a member takes them out of it.
void TestAddressBook::groupsFollowThePeopleAndSendToTheirMembers()
{
    PanelFixture f({"A", "B", "C"});
    f.list.item(0)->setSelected(true);
    f.list.item(2)->setSelected(true);
    f.p.dialogs.answers = {"Team"};
    f.list.actions().first()->trigger();
    QCOMPARE(rows(f.list), (QStringList{"A", "B", "C", "Team"}));
    QVERIFY(!f.list.item(3)->icon().isNull());
    QCOMPARE(f.book().count(), 3);

    f.list.clearSelection();
    f.list.item(1)->setSelected(true);
    f.list.item(3)->setSelected(true);
    QCOMPARE(f.panel.selectedSlot(), -1);
    QVERIFY(f.panel.isSeveralSelected());
    QCOMPARE(f.panel.selectedNames(), QStringLiteral("B and Team"));
    const QList<Recipient> expected{{"B", "b"}, {"A", "a"}, {"C", "c"}};
    QCOMPARE(f.panel.selectedRecipients(), expected);

    f.list.clearSelection();
    f.select(0);
    QCOMPARE(f.panel.selectedSlot(), 0);
    QVERIFY(!f.panel.isSeveralSelected());
    f.panel.BUTTdeleteAddress_Click();
    QCOMPARE(rows(f.list), (QStringList{"B", "C", "Team"}));
    QCOMPARE(f.station.groups().group(0).members, QList<int>{1});

    f.list.clearSelection();
    f.select(2);
    f.panel.BUTTdeleteAddress_Click();
    QCOMPARE(rows(f.list), (QStringList{"B", "C"}));
    QCOMPARE(f.station.groups().count(), 0);
    QVERIFY(!storedSections(f.p.settings().fileName()).contains(QStringLiteral("Group0")));
}

QTEST_MAIN(TestAddressBook)
#include "tst_addressbook.moc"
