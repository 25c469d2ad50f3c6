#pragma once

#include "addressbook/recipients.h"
#include "cli/command.h"
#include "transfer/sendoutcome.h"

class Console;
class Station;

// quillo send to several people at once (--to Anna --to Bea, --to Anna,Bea, --to a group):
// the files go to each of them as the window's batch to several goes, each person on
// transfers of their own. Every file prints one line per person, sent or not; the command
// fails when any of them did not arrive.
class SendManyCommand : public Command
{
    Q_OBJECT

public:
    // station must outlive the command.
    SendManyCommand(Station& station, const QList<Recipient>& recipients, const QStringList& files,
                    Console& console, QObject* parent = nullptr);

    std::optional<int> start() override;
    void stop() override;

private:
    void printRowFinished(const Recipient& who, int row, const SendEnd& end);
    void printRowSkipped(const Recipient& who, int row, int rows, const QString& path,
                         const QString& reason);
    void finish(int exitStatus);

    Station& station_;
    Console& console_;
    QList<Recipient> recipients_;
    bool allSent_ = true;
    bool finished_ = false;
};
