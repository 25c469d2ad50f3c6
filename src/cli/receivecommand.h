#pragma once

#include "addressbook/addressbook.h"
#include "cli/command.h"
#include "receiving/filereceiver.h"

#include <QSet>

class Console;

// quillo receive: the receiver of the window, without the window. It takes files until
// stopped or, with once, until the first connection that brought a file has ended; with
// once it takes one connection at a time, so that no other file arrives meanwhile.
class ReceiveCommand : public Command
{
    Q_OBJECT

public:
    // folder ends with '/'.
    ReceiveCommand(const QHostAddress& bindAddress, const QString& folder, bool once,
                   Console& console, QObject* parent = nullptr);

    // Counts the addresses in book as friends, whose part files are not limited in room;
    // book must outlive the command.
    void useAddressBook(const AddressBook& book) { receiver_.setAddressBook(book); }
    // Takes files only from the addresses in book, which must outlive the command; an
    // entry with a key counts only on the private port.
    void takeOnlyFrom(const AddressBook& book);

    std::optional<int> start() override;
    void stop() override;
    void setPrivacy(const Identity* identity, PeerKeys* keys) override
    {
        receiver_.setPrivacy(identity, keys);
    }

private:
    void fileStarted(int connection, const QString& name, qint64 size);
    void connectionEnded(const ReceiveEnd& end);
    // Tells the exit status, once only.
    void finish(int exitStatus);

    FileReceiver receiver_;
    Console& console_;
    bool once_;
    QSet<int> filesBegun_; // the connections in progress that brought a file
    int latestFile_ = 0;   // the one the progress bar follows
    bool stopping_ = false;
    bool saved_ = false; // a file was saved whole
    bool finished_ = false;
};
