#pragma once

#include "identity/identity.h"
#include "platform/checksum.h"
#include "secure/messagereader.h"
#include "secure/privatemessage.h"
#include "support/peertls.h"

#include <QList>
#include <QPointer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>
#include <utility>

// A receiver on the private port with an identity of its own: it answers the sender as
// docs/protocol.md says, keeping every file and chat line, and refuses or fails files when
// told to.
class PrivateReceiver : public QTcpServer
{
public:
    struct File {
        QByteArray name;
        QByteArray content;         // what came on its connection
        bool digestMatched = false; // with the whole file, the bytes of a cut included
        int endBytes = 0;
    };

    PrivateReceiver() : identity_(Identity::open(dir_.path(), nullptr)) {}

    bool start(const QHostAddress& address) { return identity_ && listen(address, kPrivatePort); }
    QByteArray key() const { return identity_->key(); }

    int connections = 0;
    QList<MessageType> seen; // every message of every sender, in order
    QList<File> files;
    QStringList chats;
    int byes = 0;
    QByteArray fileAnswer;         // what each FILE is answered with, when not ACCEPT 0
    QList<QByteArray> fileAnswers; // the same for each FILE in turn, before fileAnswer
    bool holdsFiles = false;       // FILEs are answered only by answerHeld()
    QByteArray endAnswer;          // what each END is answered with, when not SAVED
    QList<QByteArray> endAnswers;  // the same for each END in turn, before endAnswer
    bool holdsEnds = false;        // ENDs are answered only by answerHeld()
    int mostUnanswered = 0;        // the most ENDs awaiting their answer when a FILE came
    quint32 features = 0;          // what its HELLO sets
    // How many files to break off after their first DATA, as a cut connection would; where
    // its HELLO offers to resume, each next offer goes on from what came.
    int cuts = 0;

    int heldCount() const { return int(held_.size()); }
    void answerHeld()
    {
        for (const auto& [socket, answer] : std::exchange(held_, {}))
            if (socket)
                socket->write(answer);
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        ++connections;
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setSslConfiguration(privateTlsConfiguration(*identity_));
        auto reader = std::make_shared<MessageReader>();
        auto digest = std::make_shared<Checksum>();
        QObject::connect(socket, &QSslSocket::readyRead, socket, [=] {
            reader->feed(socket->readAll());
            PrivateMessage message;
            while (!socket->property("cut").toBool() &&
                   reader->next(message) == MessageReader::Result::Message)
                answer(*socket, *digest, message);
        });
        socket->startServerEncryption();
    }

private:
    void answer(QSslSocket& socket, Checksum& digest, const PrivateMessage& message)
    {
        seen.append(message.type);
        switch (message.type) {
        case MessageType::Hello:
            socket.write(helloMessage(kPrivateVersion, features));
            break;
        case MessageType::File: {
            mostUnanswered = std::max(mostUnanswered, heldCount());
            const FileOffer offer = *parseFileOffer(message.body);
            files.append({offer.path, {}, false});
            digest.reset(fileCheckOf(features));
            digest.add(kept_);
            const QByteArray reply = !fileAnswers.isEmpty()  ? fileAnswers.takeFirst()
                                     : !fileAnswer.isEmpty() ? fileAnswer
                                                             : acceptMessage(kept_.size());
            // A small file refused comes all the same where it goes eagerly.
            passing_ =
                reply.at(0) == char(MessageType::Refuse) && goesEagerly(features, offer.size);
            if (holdsFiles)
                held_.append({&socket, reply});
            else
                socket.write(reply);
            break;
        }
        case MessageType::Data:
            if (passing_)
                break;
            files.last().content += message.body;
            digest.add(message.body);
            if (cuts > 0) {
                --cuts;
                if (features & kFeatureResume)
                    kept_ += files.last().content;
                socket.setProperty("cut", true);
                QMetaObject::invokeMethod(&socket, &QSslSocket::abort, Qt::QueuedConnection);
                break;
            }
            if (holdsFiles) // after the file's held ACCEPT
                held_.append({&socket, countMessage(files.last().content.size())});
            else
                socket.write(countMessage(files.last().content.size()));
            break;
        case MessageType::End:
            if (std::exchange(passing_, false))
                break;
            kept_.clear();
            files.last().digestMatched = digest.result() == message.body;
            files.last().endBytes = int(message.body.size());
            answerEnd(socket, !endAnswers.isEmpty()  ? endAnswers.takeFirst()
                              : !endAnswer.isEmpty() ? endAnswer
                                                     : encodeMessage(MessageType::Saved));
            break;
        case MessageType::Chat:
            chats.append(*parseChat(message.body));
            socket.write(encodeMessage(MessageType::Heard));
            break;
        case MessageType::Bye:
            ++byes;
            socket.disconnectFromHost();
            break;
        default:
            break;
        }
    }

    void answerEnd(QSslSocket& socket, const QByteArray& answer)
    {
        if (holdsEnds)
            held_.append({&socket, answer});
        else
            socket.write(answer);
    }

    QTemporaryDir dir_;
    QList<std::pair<QPointer<QSslSocket>, QByteArray>> held_;
    std::optional<Identity> identity_;
    QByteArray kept_;      // the bytes of a cut file, to go on from
    bool passing_ = false; // over a refused file's DATA and END
};
