#pragma once

#include <QPixmap>

#include <array>

class QLabel;
class PrivacyMark;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class QWidget;

// Every control of the main window, under the name the program's handlers use. The
// fixed captions (Label1 to Label31) are not listed: nothing changes them at run time,
// but each carries its name as its object name all the same.
struct MainUi {
    // Address book panel
    QListWidget* ListIPaddress = nullptr;
    QPushButton* BUTTaddNewAddress = nullptr;
    QPushButton* BUTTdeleteAddress = nullptr;
    QPushButton* BUTTeditAddress = nullptr;

    // Send queue panel
    QListWidget* LSTsends = nullptr;
    QPushButton* BUTTsendFile = nullptr;
    QPushButton* BUTclearsends = nullptr;
    QPushButton* BUTsendthesefiles = nullptr;

    // Sender panel
    QLabel* LABSendLocalIP = nullptr;
    QLabel* LABSendRemoteIP = nullptr;
    PrivacyMark* sendPrivacyMark = nullptr; // inside LABSendRemoteIP, at its right
    QLabel* LABSendStatus = nullptr;
    QLabel* LABSendFileName = nullptr;
    QLabel* LABSendBytesSent = nullptr;
    QLabel* LABSendFileSize = nullptr;
    QProgressBar* ProgressSend = nullptr;
    QLabel* LABprogressSend = nullptr;
    QLabel* LABsendSpeed = nullptr;
    QLabel* LABtotalProgress = nullptr;

    // Receiver panel
    QLabel* LABrecieveLocalIP = nullptr;
    QLabel* LABrecieveRemoteIP = nullptr;
    PrivacyMark* receivePrivacyMark = nullptr; // inside LABrecieveRemoteIP, at its right
    QLabel* LABrecieveStatus = nullptr;
    QLabel* LABrecieveFileName = nullptr;
    QLabel* LABrecieveBytesSent = nullptr;
    QLabel* LABrecieveFileSize = nullptr;
    QProgressBar* ProgressRecieve = nullptr;
    QLabel* LABprogressRecieve = nullptr;
    QLabel* LABrecieveSpeed = nullptr;

    // Mini chat
    QPlainTextEdit* ChatRX = nullptr;
    QLineEdit* ChatTX = nullptr;

    // Status bar: panel 1 holds the credits line and presence notices, panel 2 the clock.
    QStatusBar* StatusBar = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QLabel* StatusPanel2 = nullptr;

    // The clock's timer, created stopped. The presence timer and the two speed meters'
    // timers belong to the parts that run them.
    QTimer* TimerOneSecond = nullptr;

    // The skin images: 0 the caption strip, 1 the frame-edge image.
    std::array<QPixmap, 2> TheSkin;
};

// Creates every control as a child of window and arranges them: the address book and
// send queue on the left, the sender and receiver panels on the right, the chat across
// the full width under both, and the status bar along the bottom.
MainUi buildMainUi(QWidget& window);
