#pragma once

#include "shell/progressthrottle.h"

#include <QObject>

class FileReceiver;
struct MainUi;
struct ReceiveEnd;
struct SocketError;

// The receiver panel ("File Reciever"): shows what the receiver reports.
class ReceiverPanel : public QObject
{
    Q_OBJECT

public:
    ReceiverPanel(const MainUi& ui, FileReceiver& receiver, QObject* parent = nullptr);

private:
    void connectionOpened(const QString& peer);
    void fileStarted(const QString& name, qint64 size);
    void showProgress(qint64 received, qint64 size);
    void finished(const ReceiveEnd& end);
    void listenFailed(const SocketError& error);
    void TimerRecieveSpeed_Timer(qint64 bytes, int seconds);
    void showStatus(const QString& text, const QString& toolTip = {});
    void resetPanel();

    const MainUi& ui_;
    ProgressThrottle progress_;
};
