#include "support/rawpeer.h"
#include "support/testplatform.h"
#include "text/clocktext.h"
#include "window/dialogs.h"
#include "window/mainwindow.h"
#include "window/peertextview.h"
#include "window/windowfont.h"

#include <QAccessible>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>
#include <QtTest>

namespace
{

const QHostAddress kAddress(QStringLiteral("127.0.0.3"));
const QHostAddress kPeer(QStringLiteral("127.0.0.4"));

QString textOf(const QWidget* widget)
{
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<const QPushButton*>(widget))
        return button->text();
    if (auto* line = qobject_cast<const QLineEdit*>(widget))
        return line->text();
    if (auto* edit = qobject_cast<const QPlainTextEdit*>(widget))
        return edit->toPlainText();
    if (auto* list = qobject_cast<const QListWidget*>(widget))
        return QString::number(list->count()) + QStringLiteral(" rows");
    if (auto* bar = qobject_cast<const QProgressBar*>(widget))
        return QStringLiteral("%1 of %2..%3")
            .arg(bar->value())
            .arg(bar->minimum())
            .arg(bar->maximum());
    return QStringLiteral("<unknown kind>");
}

QColor colourInside(QWidget* widget)
{
    return widget->grab().toImage().pixelColor(widget->width() - 2, widget->height() / 2);
}

// Where a control stands in the window.
QRect placeOf(const Main& window, const char* name)
{
    auto* widget = window.findChild<QWidget*>(QLatin1String(name));
    return widget ? QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size()) : QRect();
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void everyControlHasItsInitialText_data();
    void everyControlHasItsInitialText();
    void windowCaptionSizeAndArrangement();
    void coloursAndFonts();
    void everyTextIsProportionalAndEveryCaptionFits();
    void assistiveTechnologySeesAFrameAndControlsNamedByTheirHeaders();
    void timersStartAsDesigned();
    void clockShowsTheTimeOfDayEverySecond();
    void aChangingValueDoesNotLayOutTheWindow();
    void peerTextIsShownAsItIs();
    void aNoticeOutlivesTheDialogOpenWhenItCame();

private:
    std::unique_ptr<TestPlatform> platform_;
    std::unique_ptr<Main> window_;
};

void TestWindow::init()
{
    platform_ = std::make_unique<TestPlatform>();
    window_ = std::make_unique<Main>(platform_->platform(), kAddress);
}

void TestWindow::cleanup()
{
    window_.reset();
    platform_.reset();
}

void TestWindow::everyControlHasItsInitialText_data()
{
    QTest::addColumn<QString>("text");
    const QList<std::pair<const char*, const char*>> controls{
        {"Label1", "IP Address Book"},
        {"ListIPaddress", "0 rows"},
        {"BUTTaddNewAddress", "Add New Address"},
        {"BUTTdeleteAddress", "Delete Selected Address"},
        {"BUTTeditAddress", "Edit Selected Address"},
        {"Label13", "Files to Send"},
        {"LSTsends", "0 rows"},
        {"BUTTsendFile", "Add File to Send"},
        {"BUTclearsends", "Clear All Files in the List"},
        {"BUTsendthesefiles", "Send These Files Now"},
        {"Label2", "File Sender"},
        {"Label5", "Local IP :"},
        {"LABSendLocalIP", "0.0.0.0"},
        {"Label6", "Remote IP :"},
        {"LABSendRemoteIP", "0.0.0.0"},
        {"Label4", "Status :"},
        {"LABSendStatus", "Disconnected"},
        {"Label8", "File Name :"},
        {"LABSendFileName", ""},
        {"Label12", "Bytes Sent :"},
        {"LABSendBytesSent", "0"},
        {"Label10", "File Size :"},
        {"LABSendFileSize", "0"},
        {"Label9", "Progress :"},
        {"ProgressSend", "0 of 0..100"},
        {"LABprogressSend", "0 %"},
        {"Label11", "Speed :"},
        {"LABsendSpeed", "0 K/sec"},
        {"LABtotalProgress", "0 of 0 Files"},
        {"Label17", "File Reciever"},
        {"Label29", "Local IP :"},
        {"LABrecieveLocalIP", "0.0.0.0"},
        {"Label31", "Remote IP :"},
        {"LABrecieveRemoteIP", "0.0.0.0"},
        {"Label26", "Status :"},
        {"LABrecieveStatus", "Disconnected"},
        {"Label3", "File Name :"},
        {"LABrecieveFileName", ""},
        {"Label22", "Bytes Sent :"},
        {"LABrecieveBytesSent", "0"},
        {"Label24", "File Size :"},
        {"LABrecieveFileSize", "0"},
        {"Label25", "Progress :"},
        {"ProgressRecieve", "0 of 0..100"},
        {"LABprogressRecieve", "0 %"},
        {"Label23", "Speed :"},
        {"LABrecieveSpeed", "0 K/sec"},
        {"Label7", "Mini Chat"},
        {"ChatRX", ""},
        {"ChatTX", ""},
        {"StatusPanel2", "00:00:00"},
    };
    for (const auto& [name, text] : controls)
        QTest::newRow(name) << QString::fromUtf8(text);
}

void TestWindow::everyControlHasItsInitialText()
{
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QFETCH(QString, text);
    auto* control = window_->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(textOf(control), text);
}

void TestWindow::windowCaptionSizeAndArrangement()
{
    Main& w = *window_;
    QCOMPARE(w.windowTitle(), QStringLiteral("Q U I L L O  v1.00"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // The client area; a skinned frame lies around it.
    QCOMPARE(w.contentsRect().size(), QSize(797, 521));

    // Two columns: address book over send queue on the left, sender over receiver on the right.
    QVERIFY(placeOf(w, "ListIPaddress").bottom() < placeOf(w, "LSTsends").top());
    QVERIFY(placeOf(w, "LABSendStatus").bottom() < placeOf(w, "LABrecieveStatus").top());
    QVERIFY(placeOf(w, "ListIPaddress").right() < placeOf(w, "LABSendStatus").left());
    QVERIFY(placeOf(w, "LSTsends").right() < placeOf(w, "LABrecieveStatus").left());
    // Caption on the left of its value; the progress text right of its bar.
    QVERIFY(placeOf(w, "Label4").right() < placeOf(w, "LABSendStatus").left());
    QVERIFY(placeOf(w, "ProgressSend").right() < placeOf(w, "LABprogressSend").left());
    QVERIFY(placeOf(w, "LABsendSpeed").right() < placeOf(w, "LABtotalProgress").left());
    // The chat across the whole width under both columns, the status bar at the bottom.
    const QRect chat = placeOf(w, "ChatRX");
    QVERIFY(chat.top() > placeOf(w, "BUTsendthesefiles").bottom());
    QVERIFY(chat.top() > placeOf(w, "LABrecieveSpeed").bottom());
    QVERIFY(chat.width() > 700);
    QVERIFY(placeOf(w, "ChatTX").top() > chat.bottom());
    const QRect status = placeOf(w, "StatusBar");
    QVERIFY(status.top() > placeOf(w, "ChatTX").bottom());
    QCOMPARE(status.bottom(), w.contentsRect().bottom());
    QVERIFY(placeOf(w, "StatusPanel2").left() > placeOf(w, "StatusPanel1").right());
}

void TestWindow::coloursAndFonts()
{
    Main& w = *window_;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const MainUi& ui = w.ui();
    auto* header = w.findChild<QLabel*>(QStringLiteral("Label2"));
    auto* caption = w.findChild<QLabel*>(QStringLiteral("Label4"));

    QCOMPARE(colourInside(header), QColor(0, 0, 192));
    QCOMPARE(header->palette().color(QPalette::WindowText), QColor(Qt::white));
    QCOMPARE(colourInside(caption), QColor(192, 255, 255));
    QCOMPARE(colourInside(ui.LABSendStatus), QColor(224, 255, 255));
    QCOMPARE(colourInside(ui.ListIPaddress->viewport()), QColor(224, 255, 255));
    QCOMPARE(colourInside(ui.LSTsends->viewport()), QColor(224, 255, 255));
    QCOMPARE(colourInside(ui.ChatRX->viewport()), QColor(192, 255, 255));
    QCOMPARE(colourInside(ui.ChatTX), QColor(240, 255, 255));

    QVERIFY(header->alignment() & Qt::AlignHCenter);
    QVERIFY(caption->alignment() & Qt::AlignRight);
    QVERIFY(ui.LABSendStatus->alignment() & Qt::AlignLeft);
    // Shown in the face the window has for Arial.
    const QString sansFace = QFontInfo(w.font()).family();
    for (const QWidget* bold :
         {static_cast<QWidget*>(header), static_cast<QWidget*>(ui.ChatRX),
          static_cast<QWidget*>(ui.StatusBar), static_cast<QWidget*>(ui.StatusPanel1),
          static_cast<QWidget*>(ui.StatusPanel2)}) {
        QCOMPARE(bold->font().family(), QStringLiteral("Arial"));
        QCOMPARE(bold->font().pointSizeF(), 8.25);
        QVERIFY(bold->font().bold());
        QCOMPARE(QFontInfo(bold->font()).family(), sansFace);
    }
    QCOMPARE(ui.ListIPaddress->font().pointSizeF(), 11.25);
    QVERIFY(ui.ListIPaddress->font().bold());
    QCOMPARE(ui.ListIPaddress->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!ui.ListIPaddress->isSortingEnabled());
    QCOMPARE(ui.StatusPanel1->toolTip(), ui.StatusPanel1->text());
    QVERIFY(!ui.StatusPanel1->text().isEmpty());
    QCOMPARE(ui.StatusPanel2->toolTip(), QStringLiteral("00:00:00"));
}

// Whatever faces are installed: measured against the face each control shows.
void TestWindow::everyTextIsProportionalAndEveryCaptionFits()
{
    Main& w = *window_;
    platform_->startWith(QStringLiteral("Anna"), QHostAddress(QStringLiteral("127.0.0.145")));
    QVERIFY(w.Form_Load()); // which puts the skin on
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Every text in the window's one face, and that face proportional.
    const QFontInfo face(w.font());
    QVERIFY2(!face.fixedPitch(), qPrintable(face.family()));
    QStringList otherFace;
    for (const QWidget* control : w.findChildren<QWidget*>()) {
        const auto* label = qobject_cast<const QLabel*>(control);
        const bool button = qobject_cast<const QPushButton*>(control);
        if ((label || button || qobject_cast<const QAbstractScrollArea*>(control) ||
             qobject_cast<const QLineEdit*>(control)) &&
            QFontInfo(control->font()).family() != face.family())
            otherFace << control->objectName();
        if (!button && !(label && label->property("role").toString() != "value"))
            continue;
        const QString seen = QStringLiteral("%1 is %2x%3, its text needs %4x%5")
                                 .arg(control->objectName())
                                 .arg(control->width())
                                 .arg(control->height())
                                 .arg(control->sizeHint().width())
                                 .arg(control->fontMetrics().height());
        QVERIFY2(control->width() >= control->sizeHint().width(), qPrintable(seen));
        QVERIFY2(control->height() >= control->fontMetrics().height(), qPrintable(seen));
    }
    QCOMPARE(otherFace, QStringList());

    // Message boxes are windows of their own, shown in the window's face all the same.
    const QFont before = QApplication::font();
    useWindowFontForDialogs();
    QtDialogs dialogs;
    dialogs.notice(QStringLiteral("A notice"));
    QMessageBox* box = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        box = box ? box : qobject_cast<QMessageBox*>(top);
    QVERIFY(box);
    auto* text = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    QCOMPARE(QFontInfo(text->font()).family(), face.family());
    delete box;
    QApplication::setFont(before);
}

void TestWindow::assistiveTechnologySeesAFrameAndControlsNamedByTheirHeaders()
{
    const auto seen = [](QWidget* widget) {
        QAccessibleInterface* it = QAccessible::queryAccessibleInterface(widget);
        return std::make_pair(it->role(), it->text(QAccessible::Name));
    };
    const auto header = [&](const char* name) {
        return window_->findChild<QLabel*>(QLatin1String(name))->text();
    };
    const MainUi& ui = window_->ui();
    QCOMPARE(seen(window_.get()), std::make_pair(QAccessible::Window, QString("Quillo v1.00")));
    QCOMPARE(seen(ui.ListIPaddress), std::make_pair(QAccessible::List, header("Label1")));
    QCOMPARE(seen(ui.LSTsends), std::make_pair(QAccessible::List, header("Label13")));
    QCOMPARE(seen(ui.ChatRX), std::make_pair(QAccessible::EditableText, header("Label7")));
    QCOMPARE(seen(ui.ChatTX), std::make_pair(QAccessible::EditableText, header("Label7")));
    // The two chat fields are told apart.
    QAccessibleInterface* transcript = QAccessible::queryAccessibleInterface(ui.ChatRX);
    QAccessibleInterface* input = QAccessible::queryAccessibleInterface(ui.ChatTX);
    QVERIFY(transcript->state().readOnly && !input->state().readOnly);
    QVERIFY(transcript->text(QAccessible::Description) != input->text(QAccessible::Description));
}

void TestWindow::timersStartAsDesigned()
{
    const MainUi& ui = window_->ui();
    QCOMPARE(ui.TimerOneSecond->interval(), 1000);
    QVERIFY(ui.TimerOneSecond->isActive());
    QVERIFY(!window_->receiver().findChild<SpeedMeter*>()->isRunning());
    QVERIFY(!window_->sender().findChild<SpeedMeter*>()->isRunning());
}

// Counts the requests to lay a widget out anew.
class LayoutRequests : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            ++count;
        return false;
    }
};

void TestWindow::aChangingValueDoesNotLayOutTheWindow()
{
    Main& w = *window_;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const MainUi& ui = w.ui();
    const QRect before = ui.LABSendFileName->geometry();
    LayoutRequests requests;
    w.installEventFilter(&requests);
    for (QLabel* value : {ui.LABSendBytesSent, ui.LABprogressSend, ui.LABrecieveBytesSent,
                          ui.LABrecieveSpeed, ui.LABSendFileName}) {
        value->setText(QStringLiteral("1234567890 a much longer text than the field has room for"));
        value->setText(QStringLiteral("1"));
    }
    QCoreApplication::processEvents();
    QCOMPARE(requests.count, 0);
    QCOMPARE(ui.LABSendFileName->geometry(), before);
}

void TestWindow::clockShowsTheTimeOfDayEverySecond()
{
    QCOMPARE(clockText(QTime(9, 5, 3)), QStringLiteral("09:05:03"));
    QCOMPARE(clockText(QTime(23, 59, 59)), QStringLiteral("23:59:59"));

    QLabel* panel = window_->ui().StatusPanel2;
    platform_->clock.now = QTime(23, 59, 59);
    QTRY_COMPARE_WITH_TIMEOUT(panel->text(), QStringLiteral("23:59:59"), 3000);
    platform_->clock.now = QTime(0, 0, 0, 400);
    QTRY_COMPARE_WITH_TIMEOUT(panel->text(), QStringLiteral("00:00:00"), 3000);
    platform_->clock.now = QTime(0, 0, 1);
    QTRY_COMPARE_WITH_TIMEOUT(panel->text(), QStringLiteral("00:00:01"), 3000);
    QCOMPARE(window_->ui().StatusPanel1->text(), window_->ui().StatusPanel1->toolTip());
}

void TestWindow::peerTextIsShownAsItIs()
{
    platform_->startWith(QStringLiteral("Peer"), kPeer);
    QVERIFY(window_->Form_Load());
    const QString name = QStringLiteral("<font color=#ff0000 size=7>RRRR");
    RawPeer peer;
    peer.connectTo(kPeer, kAddress, 1052);
    QTRY_VERIFY_WITH_TIMEOUT(peer.isConnected(), 5000);
    peer.send("FILENAME " + name.toUtf8() + " #10\r\nabc");
    QLabel& shown = *window_->ui().LABrecieveFileName;
    QTRY_COMPARE_WITH_TIMEOUT(shown.text(), name, 5000);
    QCOMPARE(shown.textFormat(), Qt::PlainText);
    for (QLabel* label : window_->findChildren<QLabel*>()) {
        if (label->property("role").toString() == QStringLiteral("value"))
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
    }

    // Tooltips and menus show the text too, not markup or a shortcut.
    const QString text = QStringLiteral("<b>Tom</b> & <i>Jerry</i>\nsecond line");
    QTextDocument shownTip;
    shownTip.setHtml(plainToolTip(text));
    QVERIFY(Qt::mightBeRichText(plainToolTip(text)));
    QCOMPARE(shownTip.toPlainText(), text);
    QCOMPARE(menuText(QStringLiteral("Tom & Jerry")), QStringLiteral("Tom && Jerry"));
}

void TestWindow::aNoticeOutlivesTheDialogOpenWhenItCame()
{
    QtDialogs dialogs;
    dialogs.showOver(window_.get());
    window_->show();
    auto* asking = new QDialog(window_.get());
    asking->setAttribute(Qt::WA_DeleteOnClose);
    asking->show();
    QApplication::setActiveWindow(asking);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), asking, 5000);

    dialogs.notice(QStringLiteral("Cannot read <b>x</b>"));
    const QPointer<QMessageBox> notice = window_->findChild<QMessageBox*>();
    QVERIFY(notice);
    QCOMPARE(notice->textFormat(), Qt::PlainText);
    asking->close();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->findChild<QDialog*>() || notice, 5000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(notice);
    QVERIFY(notice->isVisible());
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
