#include "cli/commandcatalog.h"
#include "cli/helptext.h"
#include "cli/outputlines.h"
#include "plain/protocol.h"
#include "presence/datagram.h"
#include "secure/privatemessage.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

// The help, the manual page and the README against the program's own list of subcommands,
// options and output lines, so that none of them drifts from what the program does.

namespace
{

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The manual page as plain text enough to compare: its dashes unescaped, fonts dropped.
QString manual()
{
    QString text = readText(QStringLiteral(QUILLO_MANUAL));
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    text.remove(QRegularExpression(QStringLiteral("\\\\f[BIPR]")));
    return text;
}

// The text of one section of the manual page, from its .SH to the next.
QString manualSection(const QString& name)
{
    const QString text = manual();
    const qsizetype start = text.indexOf(QStringLiteral(".SH ") + name + QLatin1Char('\n'));
    if (start < 0)
        return {};
    const qsizetype end = text.indexOf(QStringLiteral("\n.SH "), start + 1);
    return text.mid(start, end < 0 ? -1 : end - start);
}

QSet<QString> matches(const QString& text, const QString& pattern)
{
    QSet<QString> found;
    QRegularExpressionMatchIterator each = QRegularExpression(pattern).globalMatch(text);
    while (each.hasNext())
        found.insert(each.next().captured(1));
    return found;
}

QStringList matchList(const QString& text, const QString& pattern)
{
    QStringList found;
    QRegularExpressionMatchIterator each =
        QRegularExpression(pattern, QRegularExpression::MultilineOption).globalMatch(text);
    while (each.hasNext())
        found.append(each.next().captured(1));
    return found;
}

const QString kOption = QStringLiteral("--([a-z][a-z-]*)");

QSet<QString> optionNames(const Subcommand& subcommand)
{
    QSet<QString> names;
    for (const CommandOption& option : subcommand.options)
        names.insert(option.name);
    return names;
}

QStringList subcommandNames()
{
    QStringList names;
    for (const Subcommand& subcommand : subcommandList())
        names.append(subcommand.name);
    return names;
}

// Each output line as "kind<TAB>field<TAB>...", its fields' words single-spaced.
QSet<QString> outputLinesIn(QString text)
{
    text.replace(QLatin1Char('\t'), QStringLiteral("<TAB>"));
    text.replace(QStringLiteral("private|plain|localsend"),
                 QStringLiteral("private, plain or localsend"));
    text.replace(QStringLiteral("private|plain"), QStringLiteral("private or plain"));
    return matches(text, QStringLiteral("\\b((?:received|sent|online|offline|chat)"
                                        "(?:<TAB>[a-z]+(?:,? [a-z]+)*)+)"));
}

QSet<QString> catalogLines()
{
    QSet<QString> lines;
    for (const OutputLineKind& line : outputLineKinds())
        lines.insert(outputLineShape(line.kind));
    return lines;
}

} // namespace

class TestManual : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theProgramPrintsTheListedFields();
    void theHelpListsEverySubcommandAndOption();
    void theManualListsEverySubcommandAndOption();
    void everyOutputLineIsTheProgramsOwn();
    void everyPortIsNamed();
    void theUnitRunsTheInstalledProgram();
};

void TestManual::theProgramPrintsTheListedFields()
{
    ReceiveEnd end;
    end.path = QStringLiteral("/in/a.txt");
    const QStringList printed{receivedLine(end), sentLine(QStringLiteral("a"), 1, {}, true),
                              onlineStateLine({}, {}, true), onlineStateLine({}, {}, false),
                              chatLine({}, {}, QStringLiteral("hi"))};
    QCOMPARE(printed.size(), outputLineKinds().size());
    for (int k = 0; k < printed.size(); ++k) {
        const QStringList fields = printed[k].split(QLatin1Char('\t'));
        QCOMPARE(fields.first(), outputLineKinds()[k].kind);
        QCOMPARE(fields.size() - 1, outputLineKinds()[k].fields.size());
    }
}

void TestManual::theHelpListsEverySubcommandAndOption()
{
    const QString overview = helpText({});
    const qsizetype list = overview.indexOf(QStringLiteral("Subcommands"));
    QCOMPARE(matchList(overview.mid(list, overview.indexOf(QStringLiteral("\n\n"), list) - list),
                       QStringLiteral("^  ([a-z]+)  ")),
             subcommandNames());
    for (const Subcommand& subcommand : subcommandList()) {
        const QString help = helpText(subcommand.name);
        const QString usage = help.left(help.indexOf(QStringLiteral("\n\n")));
        QVERIFY2(usage.startsWith(QStringLiteral("Usage: quillo ") + subcommand.name),
                 qPrintable(usage));
        QCOMPARE(matches(usage, kOption), optionNames(subcommand));
        QCOMPARE(matches(help, QStringLiteral("(?m)^  (?:-h, )?--([a-z-]+)")),
                 optionNames(subcommand) + QSet<QString>{QStringLiteral("help")});
    }
}

void TestManual::theManualListsEverySubcommandAndOption()
{
    QMap<QString, QSet<QString>> synopsis;
    for (const QString& block : manualSection(QStringLiteral("SYNOPSIS")).split(".br\n")) {
        const QRegularExpressionMatch name =
            QRegularExpression(QStringLiteral("^\\.B quillo ([a-z]+)")).match(block);
        if (name.hasMatch())
            synopsis[name.captured(1)] = matches(block, kOption);
    }
    QStringList names = subcommandNames();
    names.sort();
    QCOMPARE(synopsis.keys(), names);
    QSet<QString> every{QStringLiteral("help"), QStringLiteral("version")};
    for (const Subcommand& subcommand : subcommandList()) {
        QCOMPARE(synopsis.value(subcommand.name), optionNames(subcommand));
        every += optionNames(subcommand);
    }
    QCOMPARE(matchList(manualSection(QStringLiteral("SUBCOMMANDS")),
                       QStringLiteral("^\\.TP\\n\\.B ([a-z]+)$")),
             subcommandNames());
    QCOMPARE(matches(manualSection(QStringLiteral("OPTIONS")),
                     QStringLiteral("\\.TP\\n\\.B[IR]? (?:-[hv] \", \" )?--([a-z-]+)")),
             every);
}

void TestManual::everyOutputLineIsTheProgramsOwn()
{
    QString help;
    for (const QString& topic : QStringList{QString()} + subcommandNames())
        help += helpText(topic);
    const QString readme = readText(QStringLiteral(QUILLO_README));
    for (const QString& text : {help, manual(), readme}) {
        const QSet<QString> lines = outputLinesIn(text);
        QVERIFY2(catalogLines().contains(lines),
                 qPrintable(QStringList(lines.begin(), lines.end()).join(QLatin1Char('\n'))));
        QCOMPARE(lines.size(), catalogLines().size());
    }
}

void TestManual::everyPortIsNamed()
{
    const QString network = manualSection(QStringLiteral("NETWORK"));
    for (const quint16 port : {kFilePort, kPrivatePort, kDatagramPort}) {
        QVERIFY2(network.contains(QString::number(port)), qPrintable(QString::number(port)));
        QVERIFY2(helpText({}).contains(QString::number(port)), qPrintable(QString::number(port)));
    }
}

// The unit names the program where this build's prefix installs it, and lets systemd
// see a start that failed.
void TestManual::theUnitRunsTheInstalledProgram()
{
    const QStringList unit = readText(QStringLiteral(QUILLO_UNIT)).split(QLatin1Char('\n'));
    QVERIFY(unit.contains(QStringLiteral("ExecStart=" QUILLO_BINDIR "/quillo serve")));
    QVERIFY(unit.contains(QStringLiteral("Type=notify")));
    QVERIFY(unit.contains(QStringLiteral("RestartPreventExitStatus=2")));
}

QTEST_GUILESS_MAIN(TestManual)
#include "tst_manual.moc"
