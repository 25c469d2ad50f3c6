#include "window/chatpanel.h"

#include "platform/clock.h"
#include "presence/notices.h"
#include "station/station.h"
#include "window/mainlayout.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>

ChatPanel::ChatPanel(const MainUi& ui, const Clock& clock, Station& station, QObject* parent)
    : QObject(parent), clock_(clock), station_(station), ChatRX(*ui.ChatRX), ChatTX(*ui.ChatTX),
      statusPanel1_(*ui.StatusPanel1), transcript_(*ui.ChatRX->document())
{
    connect(&station_, &Station::peerOnline, this, &ChatPanel::showOnline);
    connect(&station_, &Station::chatReceived, this, &ChatPanel::showLines);
    connect(&station_, &Station::chatDropped, this,
            [this](const QString& name, const QString&, int count) {
                statusPanel1_.setText(droppedChatNotice(name, count));
            });
    ChatTX.installEventFilter(this);
    ChatRX.installEventFilter(this);
    followNewLines();
}

bool ChatPanel::ChatTX_KeyDown(int key)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    if (station_.addressBook().count() == 0)
        return false;
    const QString line = ChatTX.text();
    station_.sendChat(line);
    transcript_.writeOwnLine(line);
    ChatTX.clear();
    return true;
}

void ChatPanel::ChatRX_GotFocus()
{
    ChatTX.setFocus();
}

bool ChatPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &ChatTX && event->type() == QEvent::KeyPress)
        return ChatTX_KeyDown(static_cast<QKeyEvent*>(event)->key());
    if (watched == &ChatRX && event->type() == QEvent::FocusIn)
        ChatRX_GotFocus();
    return QObject::eventFilter(watched, event);
}

void ChatPanel::showOnline(const QString& name)
{
    statusPanel1_.setText(onlineNotice(name, clock_.timeOfDay()));
}

void ChatPanel::showLines(const QList<ChatLine>& lines)
{
    // The lines of one arrival are laid out and shown together, once.
    transcript_.beginBatch();
    for (const ChatLine& line : lines)
        transcript_.writeReceivedLine(line.name, line.text);
    transcript_.endBatch();
}

// The transcript keeps the newest line in view while the reader is at its end; one who
// has scrolled back to read stays where they are.
void ChatPanel::followNewLines()
{
    QScrollBar* bar = ChatRX.verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { followingEnd_ = value == bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (followingEnd_)
            bar->setValue(maximum);
    });
}
