// Draws the window as a person sees it, with Anna online and a few lines from her in the
// Mini Chat, and saves the picture: scripts/screenshot.sh renews the README's with it.
// Everything goes over loopback: Anna is a socket of this program.

#include "platform/clock.h"
#include "platform/randomsource.h"
#include "platform/settingsstore.h"
#include "presence/datagram.h"
#include "window/desktop.h"
#include "window/dialogs.h"
#include "window/mainwindow.h"
#include "window/skin/nonclientskin.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <chrono>
#include <cstdio>

namespace
{

const QHostAddress kComputer(QStringLiteral("127.0.40.1"));
const QHostAddress kAnna(QStringLiteral("127.0.40.2"));
const QStringList kLines{QStringLiteral("Photos from the beach are on their way"),
                         QStringLiteral("Lunch at noon?"), QStringLiteral("Here they come")};
// Given up on when the lines have not been shown by then.
constexpr auto kPatience = std::chrono::seconds(20);
// The window is drawn once it has shown the last line, and its clock has ticked.
constexpr auto kSettle = std::chrono::milliseconds(1200);

// Nothing is asked and nothing is opened: anything the window would say is printed.
class QuietDialogs : public Dialogs
{
public:
    void message(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void notice(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void input(const QString&, const QString&, const QString&, TextEntered) override {}
    void openFiles(const QString&, const QString&, FilesChosen) override {}
    void chooseFolder(const QString&, const QString&, FolderChosen) override {}
    void ask(const QString&, Answered answered) override { answered(false); }
    QString saveFile(const QString&, const QString&) override { return {}; }
};

class QuietDesktop : public Desktop
{
public:
    void openFolder(const QString&) override {}
    void openFile(const QString&) override {}
    void showInFolder(const QString&) override {}
};

void storeBook(SettingsStore& settings, const QString& saveFolder)
{
    settings.write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), saveFolder);
    settings.write(QStringLiteral("IPaddress0"), QStringLiteral("Name"), QStringLiteral("Anna"));
    settings.write(QStringLiteral("IPaddress0"), QStringLiteral("IPaddress"), kAnna.toString());
    settings.write(QStringLiteral("IPaddress1"), QStringLiteral("Name"), QStringLiteral("Ben"));
    settings.write(QStringLiteral("IPaddress1"), QStringLiteral("IPaddress"),
                   QStringLiteral("127.0.40.3"));
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (QCoreApplication::arguments().size() != 2) {
        std::fprintf(stderr, "usage: quillo_screenshot PICTURE.png\n");
        return 2;
    }
    const QString picture = QCoreApplication::arguments().at(1);
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath(QStringLiteral("Quillo.conf")));
    storeBook(settings, folder.path() + QLatin1Char('/'));
    QuietDialogs dialogs;
    QuietDesktop desktop;
    SystemClock clock;
    UnseededRandom random;
    Main window(Platform{dialogs,
                         desktop,
                         settings,
                         clock,
                         random,
                         [] { return std::make_unique<NonClientSkin>(); },
                         folder.filePath(QStringLiteral("data")),
                         {}},
                kComputer);
    if (!window.Form_Load())
        return 1;
    window.show();

    QUdpSocket anna;
    if (!anna.bind(kAnna, kDatagramPort)) {
        std::fprintf(stderr, "cannot send as Anna: %s\n", qPrintable(anna.errorString()));
        return 1;
    }
    anna.writeDatagram("ONLINE", kComputer, kDatagramPort);
    for (const QString& line : kLines)
        anna.writeDatagram(chatDatagram(line), kComputer, kDatagramPort);

    int shown = 0;
    int status = 1;
    QObject::connect(&window.station(), &Station::chatReceived, &window,
                     [&](const QList<ChatLine>& lines) {
                         shown += int(lines.size());
                         if (shown < kLines.size())
                             return;
                         QTimer::singleShot(kSettle, &window, [&] {
                             status = window.grab().save(picture) ? 0 : 1;
                             QCoreApplication::quit();
                         });
                     });
    QTimer::singleShot(kPatience, &app, [] {
        std::fprintf(stderr, "the window did not show Anna's lines\n");
        QCoreApplication::exit(1);
    });
    const int ended = QApplication::exec();
    return ended != 0 ? ended : status;
}
