#pragma once

#include "window/progressthrottle.h"

#include <QObject>

#include <functional>

class QAction;
class Station;
struct MainUi;
struct ReceiveEnd;

// The receiver panel ("File Reciever"): shows what the station reports of the connection
// that started last.
class ReceiverPanel : public QObject
{
    Q_OBJECT

public:
    ReceiverPanel(const MainUi& ui, Station& station, QObject* parent = nullptr);

    // Offers "Accept Files Only From My Address Book" on the panel's context menu, as the
    // station has it once loaded; a change is stored at once and applies from the next
    // connection.
    void offerOnlyKnownSenders();
    // Offers "Answer LocalSend Devices In My Address Book" on the same menu, as the station
    // has it once loaded; a change is stored at once.
    void offerAnswerLocalSend();
    // "Open Save Folder" and "Change Save Folder…", first on the same menu; the window
    // does what they say.
    QAction* openSaveFolder() const { return openSaveFolder_; }
    QAction* changeSaveFolder() const { return changeSaveFolder_; }
    QAction* receivedFiles() const { return receivedFiles_; }

private:
    void showConnectionOpened(int connection, const QString& peer);
    void showPrivacyKnown(int connection, bool isPrivate, const QString& name);
    void showFileStarted(int connection, const QString& name, qint64 size);
    void showResumed(int connection, qint64 offset, qint64 size);
    void showProgressed(int connection, qint64 received, qint64 size);
    void showProgress(qint64 received, qint64 size);
    void showFinished(const ReceiveEnd& end);
    void TimerRecieveSpeed_Timer(qint64 bytes, int seconds);
    void showStatus(const QString& text, const QString& toolTip = {});
    void resetPanel();

    // Puts action on the context menu of the panel's values and progress bar.
    void addToMenu(QAction* action);
    // A checkable action there, checked or not to begin with.
    void addOption(const QString& text, bool checked, std::function<void(bool checked)> toggled);

    const MainUi& ui_;
    Station& station_;
    QAction* openSaveFolder_ = nullptr;
    QAction* changeSaveFolder_ = nullptr;
    QAction* receivedFiles_ = nullptr;
    ProgressThrottle progress_;
    int shown_ = 0; // the connection the panel shows
    // The file the speed meter follows, the one that started last, for the time left.
    int timed_ = 0;
    qint64 timedSize_ = 0; // what is left to come of it when it started
};
