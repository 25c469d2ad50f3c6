#pragma once

#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

// A receiver that speaks plain bytes: it takes connections, keeps what each sends, and
// answers only what the test tells it to.
class RawReceiver
{
public:
    struct Connection {
        QTcpSocket* socket = nullptr;
        QByteArray received;
        quint16 peerPort = 0;
        bool closed = false;
    };

    bool listen(const QHostAddress& address, quint16 port)
    {
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                auto connection = std::make_shared<Connection>();
                connection->socket = socket;
                connection->peerPort = socket->peerPort();
                QObject::connect(socket, &QTcpSocket::readyRead, [connection] {
                    connection->received += connection->socket->readAll();
                });
                QObject::connect(socket, &QTcpSocket::disconnected,
                                 [connection] { connection->closed = true; });
                connections.append(connection);
            }
        });
        return server.listen(address, port);
    }

    // Answers as a receiver that takes every file: OK once the header is in, and the
    // count once the file is whole.
    void takeFiles()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            QTcpSocket* socket = last().socket;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, this] {
                const QByteArray& received = last().received;
                const qsizetype headerEnd = received.indexOf("\r\n");
                const qsizetype sizeAt = received.lastIndexOf('#', headerEnd) + 1;
                const qint64 size = received.mid(sizeAt, headerEnd - sizeAt).toLongLong();
                if (received.size() == headerEnd + 2)
                    socket->write("OK\n");
                if (received.size() == headerEnd + 2 + size)
                    socket->write(QByteArray::number(size) + "\n");
            });
        });
    }

    int count() const { return int(connections.size()); }
    Connection& last() { return *connections.last(); }
    void reply(const QByteArray& bytes)
    {
        last().socket->write(bytes);
        last().socket->flush();
    }

    QTcpServer server;
    QList<std::shared_ptr<Connection>> connections;
};
