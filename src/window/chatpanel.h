#pragma once

#include "window/chattranscript.h"

#include <QObject>

class Clock;
class Station;
struct ChatLine;
struct MainUi;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

// The mini chat and the presence notice: a line typed into the chat input goes to
// everyone in the address book, lines that arrive are shown under the sender's name, and
// the first status bar panel tells who announced themselves last.
class ChatPanel : public QObject
{
    Q_OBJECT

public:
    ChatPanel(const MainUi& ui, const Clock& clock, Station& station, QObject* parent = nullptr);

    // Returns true when the key was used up.
    bool ChatTX_KeyDown(int key);
    void ChatRX_GotFocus();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showOnline(const QString& name);
    void showLines(const QList<ChatLine>& lines);
    void followNewLines();

    const Clock& clock_;
    Station& station_;
    QPlainTextEdit& ChatRX;
    QLineEdit& ChatTX;
    QLabel& statusPanel1_;
    ChatTranscript transcript_;
    bool followingEnd_ = true;
};
