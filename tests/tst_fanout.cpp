#include "addressbook/addressbook.h"
#include "addressbook/addressgroups.h"
#include "cli/recipientlookup.h"
#include "plain/protocol.h"
#include "platform/settingsstore.h"
#include "sending/fanout.h"
#include "station/station.h"
#include "support/enginefakes.h"
#include "support/rawreceiver.h"
#include "support/testfiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

// Addresses of these tests' own.
const QHostAddress kStation(QStringLiteral("127.0.31.1"));
const QHostAddress kAnna(QStringLiteral("127.0.31.2"));
const QHostAddress kBea(QStringLiteral("127.0.31.3")); // nothing listens there
const QHostAddress kCem(QStringLiteral("127.0.31.4"));
constexpr int kWaitMs = 10000;

Recipient person(int n)
{
    return {QStringLiteral("P%1").arg(n), QStringLiteral("10.0.0.%1").arg(n)};
}

// A transfer that ends when the test says so, and counts how many of its kind are alive.
class HeldTransfer : public RecipientTransfer
{
public:
    explicit HeldTransfer(QList<HeldTransfer*>& alive) : alive_(alive) { alive_.append(this); }
    ~HeldTransfer() override { alive_.removeOne(this); }
    void start(const QList<QueuedFile>& files) override { started = files; }
    void stop() override {}
    void end(SendOutcome outcome)
    {
        SendEnd ended;
        ended.outcome = outcome;
        Q_EMIT rowFinished(0, ended);
        Q_EMIT finished();
    }
    QList<QueuedFile> started;

private:
    QList<HeldTransfer*>& alive_;
};

QStringList namesOf(const AddressBook& book, const AddressGroup& group)
{
    QStringList names;
    for (int slot : group.members)
        names.append(book.entry(slot).Name);
    return names;
}

} // namespace

class TestFanOut : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void threeReceiversOneFailingInTheMiddle();
    void runsAFewAtOnceAndHoldsNoMoreThanThose();
    void groupsStoredAndReadBack();
    void commandLineNamesSeveral();
};

// Bea's computer takes no connection: Anna and Cem get both files all the same.
void TestFanOut::threeReceiversOneFailingInTheMiddle()
{
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath(QStringLiteral("Quillo.conf")));
    ScriptedRandom random;
    FixedClock clock;
    Station station(settings, random, folder.path(), kStation, clock);
    station.setRefusalRetries(0, std::chrono::milliseconds(1));
    RawReceiver anna, cem;
    QVERIFY(anna.listen(kAnna, kFilePort));
    QVERIFY(cem.listen(kCem, kFilePort));
    anna.takeFiles();
    cem.takeFiles();
    const QString one = folder.filePath(QStringLiteral("one.txt"));
    const QString two = folder.filePath(QStringLiteral("two.txt"));
    QVERIFY(writeFile(one, "first file"));
    QVERIFY(writeFile(two, "the second file"));
    station.queue(one);
    station.queue(two);
    QSignalSpy rows(&station, &Station::recipientRowFinished);
    QSignalSpy finished(&station, &Station::recipientsFinished);

    station.sendQueueTo({{QStringLiteral("Anna"), kAnna.toString()},
                         {QStringLiteral("Bea"), kBea.toString()},
                         {QStringLiteral("Anna again"), kAnna.toString()},
                         {QStringLiteral("Cem"), kCem.toString()}});
    QVERIFY(station.isSending());
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);

    QCOMPARE(rows.count(), 6); // two files each for three people: Anna once
    const QList<RecipientState>& states = station.recipients();
    QCOMPARE(states.size(), 3);
    QCOMPARE(states.at(0).stage, RecipientState::Stage::Sent);
    QCOMPARE(states.at(1).stage, RecipientState::Stage::NotSent);
    QCOMPARE(states.at(1).failed, 2);
    QCOMPARE(states.at(1).lastFailure.outcome, SendOutcome::Failed);
    QCOMPARE(states.at(2).stage, RecipientState::Stage::Sent);
    QCOMPARE(states.at(2).sent, 2);
    for (RawReceiver* receiver : {&anna, &cem}) {
        QCOMPARE(receiver->count(), 2);
        QVERIFY(receiver->connections.at(0)->received.endsWith("first file"));
        QVERIFY(receiver->connections.at(1)->received.endsWith("the second file"));
    }
    QVERIFY(!station.isSending());
    // The queue stays, as after a batch to one person.
    QCOMPARE(station.queuedPaths(), (QStringList{one, two}));

    // Those not online wait each for themselves; the one online is tried at once.
    station.sendQueueWhenOnline({kBea.toString(), kCem.toString()}, {kCem.toString()});
    QVERIFY(station.queuedPaths().isEmpty());
    QCOMPARE(station.waitingBatches().size(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(cem.count(), 4, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(station.waitingBatches().size(), 1, kWaitMs);
    QCOMPARE(station.waitingBatches().first().address, kBea.toString());
    QCOMPARE(station.waitingBatches().first().files.size(), 2);
}

// However many people, kParallel transfers run, each made when its turn comes and gone
// once it has ended; the rest wait, in order. A person listed twice gets the files once,
// and no more than a full address book's people get them at all.
void TestFanOut::runsAFewAtOnceAndHoldsNoMoreThanThose()
{
    QList<HeldTransfer*> alive;
    int made = 0;
    int mostAlive = 0;
    FanOut fanOut([&](const Recipient&) -> std::unique_ptr<RecipientTransfer> {
        ++made;
        auto transfer = std::make_unique<HeldTransfer>(alive);
        mostAlive = std::max(mostAlive, int(alive.size()));
        return transfer;
    });
    QList<Recipient> many;
    for (int n = 0; n < 60; ++n)
        many.append(person(n));
    many.insert(1, person(0));
    QSignalSpy finished(&fanOut, &FanOut::finished);

    fanOut.start(many, {{QStringLiteral("/a"), {}}});
    QCOMPARE(fanOut.recipients().size(), FanOut::kMostRecipients);
    QCOMPARE(fanOut.recipients().at(1).who, person(1));
    QCOMPARE(alive.size(), FanOut::kParallel);
    QCOMPARE(fanOut.recipients().at(3).stage, RecipientState::Stage::Queued);

    alive.at(1)->end(SendOutcome::NotSent);
    QTRY_COMPARE_WITH_TIMEOUT(made, FanOut::kParallel + 1, kWaitMs);
    QCOMPARE(fanOut.recipients().at(1).stage, RecipientState::Stage::NotSent);
    QCOMPARE(fanOut.recipients().at(3).stage, RecipientState::Stage::Sending);
    while (finished.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(!alive.isEmpty() || !finished.isEmpty(), kWaitMs);
        if (!alive.isEmpty())
            alive.first()->end(SendOutcome::Sent);
        QCoreApplication::sendPostedEvents(); // the ended transfers' deleteLater
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(alive.size() <= FanOut::kParallel);
    }
    QCOMPARE(made, FanOut::kMostRecipients);
    // The one that ended is freed on the next turn of the event loop, after the next is made.
    QCOMPARE(mostAlive, FanOut::kParallel + 1);
    QCOMPARE(fanOut.ended(), FanOut::kMostRecipients);
    QVERIFY(alive.isEmpty());
    QVERIFY(!fanOut.isRunning());
}

// Members are found again by name and address wherever the people then are; a member
// deleted, or one that is no person (the group itself), is dropped.
void TestFanOut::groupsStoredAndReadBack()
{
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath(QStringLiteral("Quillo.conf")));
    AddressBook book;
    for (const char* name : {"Anna", "Bea", "Cem", "Dan"})
        book.append(QLatin1String(name), QStringLiteral("10.0.0.") + QLatin1String(name));
    AddressGroups groups;
    QVERIFY(groups.append(QStringLiteral("Class 4b"), {3, 0, 2, 0}, book));
    QVERIFY(groups.append(QStringLiteral("Nobody"), {}, book));
    QVERIFY(!groups.append(QStringLiteral("  "), {0}, book));
    groups.personRemoved(2); // Cem goes; Dan moves up to slot 2
    book.remove(2);
    book.store(settings);
    groups.store(settings, book);
    QCOMPARE(settings.read(QStringLiteral("IPaddress2"), QStringLiteral("Name"), {}),
             QStringLiteral("Dan"));

    // The people come back in another order, Anna gone meanwhile, and the group names itself.
    settings.write(QStringLiteral("IPaddress0"), QStringLiteral("Name"), QStringLiteral("Dan"));
    settings.write(QStringLiteral("IPaddress0"), QStringLiteral("IPaddress"),
                   QStringLiteral("10.0.0.Dan"));
    settings.removeSection(QStringLiteral("IPaddress2"));
    settings.write(QStringLiteral("Group0"), QStringLiteral("Member2"), QStringLiteral("Class 4b"));
    settings.write(QStringLiteral("Group0"), QStringLiteral("Count"), QStringLiteral("3"));
    AddressBook readBook;
    readBook.load(settings);
    AddressGroups read;
    read.load(settings, readBook);
    QCOMPARE(read.count(), 2);
    QCOMPARE(read.group(0).Name, QStringLiteral("Class 4b"));
    QCOMPARE(namesOf(readBook, read.group(0)), QStringList{QStringLiteral("Dan")});
    QVERIFY(read.group(1).members.isEmpty());
    QVERIFY(recipientsOf(readBook, read, {}, {1}).isEmpty());

    // Groups do not take people's slots, and there are at most kGroups of them.
    while (!read.isFull())
        QVERIFY(read.append(QStringLiteral("G"), {0}, readBook));
    QVERIFY(!read.append(QStringLiteral("One too many"), {0}, readBook));
    QCOMPARE(readBook.count(), 2);
}

void TestFanOut::commandLineNamesSeveral()
{
    AddressBook book;
    book.append(QStringLiteral("Anna"), QStringLiteral("10.0.0.1"));
    book.append(QStringLiteral("Bea"), QStringLiteral("10.0.0.2"));
    book.append(QStringLiteral("Smith, Jo"), QStringLiteral("10.0.0.3"));
    AddressGroups groups;
    groups.append(QStringLiteral("Class"), {0, 1}, book);
    groups.append(QStringLiteral("Empty"), {}, book);

    QVERIFY(!namesSeveral(book, groups, {QStringLiteral("Smith, Jo")}));
    QVERIFY(!namesSeveral(book, groups, {QStringLiteral("Anna")}));
    QVERIFY(namesSeveral(book, groups, {QStringLiteral("Class")}));
    QVERIFY(namesSeveral(book, groups, {QStringLiteral("Anna,10.0.0.9")}));
    const auto found = lookUpRecipients(
        book, groups,
        {QStringLiteral("Bea"), QStringLiteral("Class,10.0.0.9"), QStringLiteral("Anna")});
    const QList<Recipient> expected{{QStringLiteral("Bea"), QStringLiteral("10.0.0.2")},
                                    {QStringLiteral("Anna"), QStringLiteral("10.0.0.1")},
                                    {QStringLiteral("10.0.0.9"), QStringLiteral("10.0.0.9")}};
    QCOMPARE(std::get<QList<Recipient>>(found), expected);
    QVERIFY(
        std::holds_alternative<QString>(lookUpRecipients(book, groups, {QStringLiteral("Empty")})));
    QStringList tooMany;
    for (int n = 0; n <= FanOut::kMostRecipients; ++n)
        tooMany.append(QStringLiteral("10.1.0.%1").arg(n));
    QVERIFY(std::holds_alternative<QString>(lookUpRecipients(book, groups, tooMany)));
}

QTEST_GUILESS_MAIN(TestFanOut)
#include "tst_fanout.moc"
