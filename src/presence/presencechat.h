#pragma once

#include "platform/datagramsocket.h"
#include "presence/chattranscript.h"

#include <QObject>

class AddressBook;
class Clock;
class QHostAddress;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTimer;
struct MainUi;

// Presence and the mini chat on UDP port 1071. Every minute (the first time three
// seconds after the window opens) the window tells everyone in the address book that it
// is online; a line typed into the chat input goes to everyone in the address book; and
// whatever arrives is shown under the sender's name, as a notice in the status bar or
// as a line in the transcript.
class PresenceChat : public QObject
{
    Q_OBJECT

public:
    // Takes the port on bindAddress at once, so that datagrams arrive from the start.
    // When it cannot, the first status bar panel says so and the rest of the window
    // carries on without receiving.
    PresenceChat(const MainUi& ui, const AddressBook& book, const Clock& clock,
                 const QHostAddress& bindAddress);

    void Timer1min_Timer();
    void WSonline_DataArrival();
    // Returns true when the key was used up.
    bool ChatTX_KeyDown(int key);
    void ChatRX_GotFocus();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sendToEveryone(const QByteArray& payload);
    void receive(const QNetworkDatagram& datagram);
    void showOnline(const QString& name);
    void followNewLines();

    const AddressBook& book_;
    const Clock& clock_;
    QTimer& Timer1min;
    QPlainTextEdit& ChatRX;
    QLineEdit& ChatTX;
    QLabel& statusPanel1_;
    DatagramSocket WSonline;
    ChatTranscript transcript_;
    bool followingEnd_ = true;
};
