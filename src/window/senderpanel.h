#pragma once

#include "transfer/sendoutcome.h"
#include "window/progressthrottle.h"

#include <QObject>

class Dialogs;
class Station;
struct MainUi;

// The sender panel ("File Sender"): shows what the station reports about the file in hand.
class SenderPanel : public QObject
{
    Q_OBJECT

public:
    SenderPanel(const MainUi& ui, Station& station, Dialogs& dialogs, QObject* parent = nullptr);

private:
    void showStatus(const SendStatus& status);
    void showProgress(qint64 confirmed, qint64 size);
    void sendFileFailed(const SendStatus& status);
    void TimerSendSpeed_Timer(qint64 bytes, int seconds);
    void showFinished(const SendEnd& end);
    void resetPanel();

    const MainUi& ui_;
    Dialogs& dialogs_;
    ProgressThrottle progress_;
    // The size of the file streaming now, for the time left; -1 between files. The speed
    // meter goes on ticking after an error, but the time left goes with the transfer.
    qint64 timedSize_ = -1;
    qint64 timedFrom_ = 0; // where the file in hand started: the speed counts from there
};
