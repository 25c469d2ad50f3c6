#include "presence/presencechat.h"

#include "addressbook/addressbook.h"
#include "platform/clock.h"
#include "presence/datagram.h"
#include "shell/clocktext.h"
#include "shell/mainlayout.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>

namespace
{

constexpr int kMinuteMs = 60000;
// Anyone can flood the port, and the window must stay responsive all the same. One turn
// of the receive path reads until the socket is empty or the turn has had this much; the
// lines are then laid out together and the window gets back to painting and input. As a
// datagram was read, the socket reports the rest at once and the next turn goes on.
constexpr int kTurnDatagrams = 200;
constexpr qsizetype kTurnBytes = 64 * 1024;
constexpr qint64 kTurnMs = 10;
// The notice shows the time to the minute: HH:MM of HH:MM:SS.
constexpr int kNoticeTimeLength = 5;

} // namespace

PresenceChat::PresenceChat(const MainUi& ui, const AddressBook& book, const Clock& clock,
                           const QHostAddress& bindAddress)
    : book_(book), clock_(clock), Timer1min(*ui.Timer1min), ChatRX(*ui.ChatRX), ChatTX(*ui.ChatTX),
      statusPanel1_(*ui.StatusPanel1), transcript_(*ui.ChatRX->document())
{
    connect(&Timer1min, &QTimer::timeout, this, &PresenceChat::Timer1min_Timer);
    connect(&WSonline, &DatagramSocket::readyRead, this, &PresenceChat::WSonline_DataArrival);
    ChatTX.installEventFilter(this);
    ChatRX.installEventFilter(this);
    followNewLines();

    if (const auto error = WSonline.bind(bindAddress, kDatagramPort)) {
        statusPanel1_.setText(
            QStringLiteral("Cannot receive presence and chat on UDP port %1: Error %2: %3")
                .arg(QString::number(kDatagramPort), QString::number(error->number),
                     error->description));
    }
}

void PresenceChat::Timer1min_Timer()
{
    Timer1min.setInterval(kMinuteMs);
    sendToEveryone(presenceDatagram());
}

void PresenceChat::WSonline_DataArrival()
{
    QElapsedTimer turn;
    turn.start();
    int datagrams = 0;
    qsizetype bytes = 0;
    transcript_.beginBatch();
    // At least one datagram is read in every turn, or the socket would report no more.
    while (WSonline.hasPendingDatagrams() && datagrams < kTurnDatagrams && bytes < kTurnBytes &&
           (datagrams == 0 || turn.elapsed() < kTurnMs)) {
        const QNetworkDatagram datagram = WSonline.receive();
        // A failed read has no sender and no text: there is nothing to show for it.
        if (!datagram.isValid())
            break;
        ++datagrams;
        bytes += datagram.data().size();
        receive(datagram);
    }
    transcript_.endBatch();
}

bool PresenceChat::ChatTX_KeyDown(int key)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    if (book_.count() == 0)
        return false;
    const QString line = ChatTX.text();
    sendToEveryone(chatDatagram(line));
    transcript_.writeOwnLine(line);
    ChatTX.clear();
    return true;
}

void PresenceChat::ChatRX_GotFocus()
{
    ChatTX.setFocus();
}

bool PresenceChat::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &ChatTX && event->type() == QEvent::KeyPress)
        return ChatTX_KeyDown(static_cast<QKeyEvent*>(event)->key());
    if (watched == &ChatRX && event->type() == QEvent::FocusIn)
        ChatRX_GotFocus();
    return QObject::eventFilter(watched, event);
}

void PresenceChat::sendToEveryone(const QByteArray& payload)
{
    for (int slot = 0; slot < book_.count(); ++slot)
        WSonline.send(payload, book_.entry(slot).IPaddress, kDatagramPort);
}

void PresenceChat::receive(const QNetworkDatagram& datagram)
{
    const Arrival arrival = classifyDatagram(book_, datagram.senderAddress(), datagram.data());
    switch (arrival.kind) {
    case Arrival::Kind::Ignored:
        break;
    case Arrival::Kind::Presence:
        showOnline(arrival.name);
        break;
    case Arrival::Kind::Chat:
        transcript_.writeReceivedLine(arrival.name, arrival.text);
        break;
    }
}

void PresenceChat::showOnline(const QString& name)
{
    statusPanel1_.setText(name + QStringLiteral(" is online at ") +
                          clockText(clock_.timeOfDay()).left(kNoticeTimeLength));
}

// The transcript keeps the newest line in view while the reader is at its end; one who
// has scrolled back to read stays where they are.
void PresenceChat::followNewLines()
{
    QScrollBar* bar = ChatRX.verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { followingEnd_ = value == bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (followingEnd_)
            bar->setValue(maximum);
    });
}
