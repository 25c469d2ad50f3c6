#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

// Holds back a flood of notifications: of each kind (its title) one is shown at once,
// then at most one per interval, which sums up what came meanwhile ("12 files from Anna")
// or, when only one came, shows it as it is.
class NotificationThrottle : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kInterval{5000};

    using Show =
        std::function<void(const QString& title, const QString& text, const QString& filePath)>;
    explicit NotificationThrottle(Show show, std::chrono::milliseconds interval = kInterval,
                                  QObject* parent = nullptr);
    ~NotificationThrottle() override;

    // One piece of news of the kind title: count things (files, lines) from or to peers.
    // text is what is shown when it comes alone; sum, such as "%1 files from %2", what is
    // shown for several, with the number and whom they came from.
    void add(const QString& title, const QString& text, const QString& filePath, const QString& sum,
             int count, const QStringList& peers);

private:
    struct Kind;
    Kind& kind(const QString& title);
    void intervalEnded(Kind& kind);

    Show show_;
    std::chrono::milliseconds interval_;
    std::map<QString, std::unique_ptr<Kind>> kinds_;
};

// Who several pieces of news came from: "Anna", "Anna and Bob", "3 people".
QString peersText(const QStringList& peers);
