#pragma once

#include "cli/command.h"
#include "cli/peerlookup.h"
#include "platform/clock.h"
#include "station/station.h"

#include <chrono>
#include <memory>

class Console;

// quillo send: the window's send queue, without the window. The files go exactly as a
// batch started from the window would send them.
//
// With a retry time, files whose connection failed or broke off wait for their person
// on the station, as the window's do, and are tried again every few seconds until that
// time is up; one cut off privately goes on from where it stopped.
class SendCommand : public Command
{
    Q_OBJECT

public:
    // station and clock must outlive the command; the clock times the tries again.
    SendCommand(Station& station, const Peer& peer, const QString& to, const QStringList& files,
                Console& console, Clock& clock = systemClock(), QObject* parent = nullptr);

    static constexpr std::chrono::milliseconds kRetryWait = std::chrono::seconds(1);

    // Tries failed files again for up to seconds; 0, the default, gives up at once.
    void setRetry(int seconds);
    std::optional<int> start() override;
    void stop() override;

private:
    void printRowStarted(BatchKind batch, int row, int rows, const QString& path,
                         const QString& host, qint64 size);
    void printRowSkipped(BatchKind batch, int row, int rows, const QString& path);
    void printRowFinished(BatchKind batch, int row, const SendEnd& end);
    void giveUpWaiting();
    void tellHostNotFound();
    bool mayRetry() const;
    int failureStatus() const;
    void attemptEnded();
    void printCutOff(const QString& host, const QList<QueuedFile>& rest);
    void retry();
    void finish(int exitStatus);

    Station& station_;
    Console& console_;
    Peer peer_;
    QString to_;
    bool allSent_ = true;
    bool toldHostNotFound_ = false;
    int retrySeconds_ = 0;
    Clock& clock_;
    std::chrono::milliseconds retryDeadline_{0}; // on the clock's steady time
    std::unique_ptr<Alarm> retryTimer_;
    bool cut_ = false;        // the file in hand was cut off
    bool keyChanged_ = false; // trying again would not help
    bool toldRetry_ = false;
    // The attempt in progress: the queue's, or one of the files waiting to be tried again.
    bool tryAgain_ = false; // some of its files wait to be tried again
    QStringList givenUp_;   // its files told as not sent, which wait no more
    SendEnd lastFailure_;   // the last file told as not sent, for those that then wait no more
    bool finished_ = false;
};
