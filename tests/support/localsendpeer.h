#pragma once

#include <QProcess>
#include <QStringList>
#include <QTest>

// The LocalSend-protocol device of tests/localsend/peer.py, run as a process of its own on
// address and port; its certificate, named name, is made in folder the first time.
class LocalSendPeer
{
public:
    static constexpr int kWaitMs = 20000;

    LocalSendPeer(const QString& address, quint16 port, const QString& folder,
                  const QStringList& options = {}, const QString& name = QStringLiteral("peer"))
        : port(port)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("python3"),
                      QStringList{QStringLiteral(QUILLO_LOCALSEND_PEER), QStringLiteral("--bind"),
                                  address, QStringLiteral("--port"), QString::number(port),
                                  QStringLiteral("--folder"), folder, QStringLiteral("--name"),
                                  name, QStringLiteral("--save"), folder + QStringLiteral("/got")} +
                          options);
        const QString ready = waitFor(QStringLiteral("ready"));
        fingerprint = QByteArray::fromHex(ready.section(QLatin1Char(' '), 2).toLatin1());
    }
    ~LocalSendPeer()
    {
        process.kill();
        process.waitForFinished(kWaitMs);
    }

    // The first line told so far that starts with prefix, waiting a while for one; empty
    // when none came.
    QString waitFor(const QString& prefix)
    {
        QDeadlineTimer deadline(kWaitMs);
        while (true) {
            while (process.canReadLine())
                lines.append(QString::fromUtf8(process.readLine()).trimmed());
            for (const QString& line : std::as_const(lines)) {
                if (line.startsWith(prefix))
                    return line;
            }
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return {};
            QTest::qWait(10);
        }
    }
    QStringList told()
    {
        while (process.canReadLine())
            lines.append(QString::fromUtf8(process.readLine()).trimmed());
        return lines;
    }

    quint16 port;
    QProcess process;
    QStringList lines;
    QByteArray fingerprint; // its certificate's SHA-256
};
