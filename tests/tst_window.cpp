#include "support/rawpeer.h"
#include "support/testplatform.h"
#include "text/clocktext.h"
#include "window/dialogs.h"
#include "window/mainwindow.h"
#include "window/peertextview.h"
#include "window/transferprogress.h"
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

// A control as a person reads it: its text, a list by its rows, a bar by its fill.
QString textOf(const QWidget* widget)
{
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<const QPushButton*>(widget))
        return QStringLiteral("[%1]").arg(button->text());
    if (auto* line = qobject_cast<const QLineEdit*>(widget))
        return QStringLiteral("<%1>").arg(line->text());
    if (auto* edit = qobject_cast<const QPlainTextEdit*>(widget))
        return QStringLiteral("<<%1>>").arg(edit->toPlainText());
    if (auto* list = qobject_cast<const QListWidget*>(widget))
        return QStringLiteral("list of %1").arg(list->count());
    if (auto* bar = qobject_cast<const QProgressBar*>(widget))
        return QStringLiteral("bar at %1 %").arg(bar->value());
    return {};
}

bool isReadable(const QWidget* widget)
{
    return qobject_cast<const QLabel*>(widget) || qobject_cast<const QPushButton*>(widget) ||
           qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget) ||
           qobject_cast<const QListWidget*>(widget) || qobject_cast<const QProgressBar*>(widget);
}

QRect placeOf(const QWidget& window, const QWidget* widget)
{
    return QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size());
}

// The panel under header as a person reads it: row by row from the top, each row left to
// right, down to the next header in the same column or the status bar.
QStringList panelAsRead(const Main& window, const QString& header)
{
    QList<const QWidget*> shown;
    const QLabel* top = nullptr;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window) || !isReadable(widget) ||
            qobject_cast<const QStatusBar*>(widget->parentWidget()))
            continue;
        if (widget->property("role").toString() == QStringLiteral("header") &&
            textOf(widget) == header)
            top = static_cast<const QLabel*>(widget);
        else
            shown.append(widget);
    }
    if (!top)
        return {QStringLiteral("no header ") + header};
    const QRect column = placeOf(window, top);
    int bottom = window.height();
    for (const QWidget* widget : shown) {
        const QRect place = placeOf(window, widget);
        if (widget->property("role").toString() == QStringLiteral("header") &&
            place.top() > column.bottom() && place.intersects(column.adjusted(0, 0, 0, 10000)))
            bottom = std::min(bottom, place.top());
    }
    QMap<int, QMap<int, QString>> rows; // by the middle of the row, then from the left
    for (const QWidget* widget : shown) {
        const QRect place = placeOf(window, widget);
        if (place.center().y() <= column.bottom() || place.center().y() >= bottom ||
            place.center().x() < column.left() || place.center().x() > column.right())
            continue;
        int row = place.center().y();
        for (auto it = rows.keyBegin(); it != rows.keyEnd(); ++it) {
            if (std::abs(*it - row) <= 3)
                row = *it;
        }
        rows[row].insert(place.left(), textOf(widget));
    }
    QStringList read;
    for (const QMap<int, QString>& row : std::as_const(rows))
        read.append(row.values().join(QStringLiteral(" | ")));
    return read;
}

QColor colourInside(QWidget* widget)
{
    return widget->grab().toImage().pixelColor(widget->width() - 2, widget->height() / 2);
}

// How far apart two colours are for a reader, from 1 (the same) to 21 (black on white).
double contrast(const QColor& one, const QColor& other)
{
    const auto luminance = [](const QColor& colour) {
        const auto channel = [](double value) {
            return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
               0.0722 * channel(colour.blueF());
    };
    const double a = luminance(one) + 0.05;
    const double b = luminance(other) + 0.05;
    return std::max(a, b) / std::min(a, b);
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void eachPanelReadsAsAPersonSeesIt_data();
    void eachPanelReadsAsAPersonSeesIt();
    void windowCaptionSizeAndArrangement();
    void coloursTellThePartsApartAndTextStaysReadable();
    void everyTextIsProportionalAndEveryCaptionFits();
    void assistiveTechnologySeesAFrameAndControlsNamedByTheirHeaders();
    void timersStartAsDesigned();
    void clockShowsTheTimeOfDayEverySecond();
    // Nor paint it at once: a burst of small files would paint it for each.
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

void TestWindow::eachPanelReadsAsAPersonSeesIt_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("IP Address Book") << QStringList{
        "list of 0", "[Add New Address] | [Edit Selected Address]", "[Delete Selected Address]"};
    QTest::newRow("Files to Send")
        << QStringList{"list of 0", "[Add File to Send] | [Clear All Files in the List]",
                       "[Send These Files Now]"};
    // The sender and the receiver read alike but for the place in the batch.
    const QStringList transfer{"Local IP : | 0.0.0.0",
                               "Remote IP : | 0.0.0.0",
                               "Status : | Disconnected",
                               "File Name : | ",
                               "Bytes Sent : | 0",
                               "File Size : | 0",
                               "Progress : | bar at 0 % | 0 %"};
    QTest::newRow("File Sender") << transfer + QStringList{"Speed : | 0 K/sec | 0 of 0 Files"};
    QTest::newRow("File Reciever") << transfer + QStringList{"Speed : | 0 K/sec"};
    QTest::newRow("Mini Chat") << QStringList{"<<>>", "<>"};
}

void TestWindow::eachPanelReadsAsAPersonSeesIt()
{
    QFETCH(QStringList, rows);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QCOMPARE(panelAsRead(*window_, QString::fromUtf8(QTest::currentDataTag())), rows);
    QCOMPARE(window_->ui().StatusPanel2->text(), QStringLiteral("00:00:00"));
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
    const MainUi& ui = w.ui();
    const auto place = [&w](const QWidget* widget) { return placeOf(w, widget); };
    QVERIFY(place(ui.ListIPaddress).bottom() < place(ui.LSTsends).top());
    QVERIFY(place(ui.LABSendStatus).bottom() < place(ui.LABrecieveStatus).top());
    QVERIFY(place(ui.ListIPaddress).right() < place(ui.LABSendStatus).left());
    QVERIFY(place(ui.LSTsends).right() < place(ui.LABrecieveStatus).left());
    // The chat across the whole width under both columns, the status bar at the bottom.
    const QRect chat = place(ui.ChatRX);
    QVERIFY(chat.top() > place(ui.BUTsendthesefiles).bottom());
    QVERIFY(chat.top() > place(ui.LABrecieveSpeed).bottom());
    QVERIFY(chat.width() > 700);
    QVERIFY(place(ui.ChatTX).top() > chat.bottom());
    const QRect status = place(ui.StatusBar);
    QVERIFY(status.top() > place(ui.ChatTX).bottom());
    QCOMPARE(status.bottom(), w.contentsRect().bottom());
    QVERIFY(place(ui.StatusPanel2).left() > place(ui.StatusPanel1).right());
}

// The colours are the window's own whatever the desktop's theme; what must hold is that
// a person tells the parts apart and reads every text on its background.
void TestWindow::coloursTellThePartsApartAndTextStaysReadable()
{
    Main& w = *window_;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const MainUi& ui = w.ui();
    QLabel* header = nullptr;
    QLabel* caption = nullptr;
    for (QLabel* label : w.findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("File Sender"))
            header = label;
        if (label->text() == QStringLiteral("Status :"))
            caption = label;
    }
    QVERIFY(header && caption);
    const QColor headerBack = colourInside(header);
    const QColor captionBack = colourInside(caption);
    const QColor valueBack = colourInside(ui.LABSendStatus);
    const auto ink = [](const QWidget* widget) {
        return widget->palette().color(widget->foregroundRole());
    };
    QVERIFY(contrast(ink(header), headerBack) >= 4.5);
    QVERIFY(contrast(ink(caption), captionBack) >= 4.5);
    QVERIFY(contrast(ink(ui.LABSendStatus), valueBack) >= 4.5);
    QVERIFY(contrast(ink(ui.ChatRX), colourInside(ui.ChatRX->viewport())) >= 4.5);
    // Headers stand out from the rows, captions from their values, and the line typed into
    // from the transcript above it; the lists look like the values they hold.
    QVERIFY(contrast(headerBack, captionBack) >= 3);
    QVERIFY(captionBack != valueBack);
    QVERIFY(colourInside(ui.ChatRX->viewport()) != colourInside(ui.ChatTX));
    QCOMPARE(colourInside(ui.ListIPaddress->viewport()), valueBack);
    QCOMPARE(colourInside(ui.LSTsends->viewport()), valueBack);

    QVERIFY(header->alignment() & Qt::AlignHCenter);
    QVERIFY(caption->alignment() & Qt::AlignRight);
    QVERIFY(ui.LABSendStatus->alignment() & Qt::AlignLeft);
    // Headers, the transcript and the status bar in bold; the names in the address book
    // bold and larger than the window's text, the files to send smaller but still legible.
    for (const QWidget* bold : std::initializer_list<const QWidget*>{
             header, ui.ChatRX, ui.StatusBar, ui.StatusPanel1, ui.StatusPanel2})
        QVERIFY2(bold->font().bold(), qPrintable(bold->objectName()));
    QVERIFY(!ui.LABSendStatus->font().bold());
    const qreal text = ui.LABSendStatus->font().pointSizeF();
    QVERIFY(ui.ListIPaddress->font().bold());
    QVERIFY(ui.ListIPaddress->font().pointSizeF() > text);
    QVERIFY(ui.LSTsends->font().pointSizeF() < text);
    QVERIFY(ui.LSTsends->fontMetrics().height() >= 8);
    QCOMPARE(ui.ListIPaddress->selectionMode(), QAbstractItemView::ExtendedSelection);
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
    const MainUi& ui = window_->ui();
    QCOMPARE(seen(window_.get()), std::make_pair(QAccessible::Window, QString("Quillo v1.00")));
    QCOMPARE(seen(ui.ListIPaddress),
             std::make_pair(QAccessible::List, QStringLiteral("IP Address Book")));
    QCOMPARE(seen(ui.LSTsends), std::make_pair(QAccessible::List, QStringLiteral("Files to Send")));
    QCOMPARE(seen(ui.ChatRX),
             std::make_pair(QAccessible::EditableText, QStringLiteral("Mini Chat")));
    QCOMPARE(seen(ui.ChatTX),
             std::make_pair(QAccessible::EditableText, QStringLiteral("Mini Chat")));
    // The two chat fields are told apart.
    QAccessibleInterface* transcript = QAccessible::queryAccessibleInterface(ui.ChatRX);
    QAccessibleInterface* input = QAccessible::queryAccessibleInterface(ui.ChatTX);
    QVERIFY(transcript->state().readOnly && !input->state().readOnly);
    QVERIFY(transcript->text(QAccessible::Description) != input->text(QAccessible::Description));
}

void TestWindow::timersStartAsDesigned()
{
    const MainUi& ui = window_->ui();
    // Announcing starts with the window, before start-up asks anything.
    QVERIFY(window_->station().isAnnouncing());
    QCOMPARE(ui.TimerOneSecond->interval(), 1000);
    QVERIFY(ui.TimerOneSecond->isActive());
}

// Counts the requests to lay a widget out anew.
// Counts the events of one type that reach the objects it filters.
class EventCount : public QObject
{
public:
    explicit EventCount(QEvent::Type type) : type_(type) {}
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == type_)
            ++count;
        return false;
    }

private:
    QEvent::Type type_;
};

void TestWindow::aChangingValueDoesNotLayOutTheWindow()
{
    Main& w = *window_;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const MainUi& ui = w.ui();
    const QRect before = ui.LABSendFileName->geometry();
    EventCount requests(QEvent::LayoutRequest);
    w.installEventFilter(&requests);
    for (QLabel* value : {ui.LABSendBytesSent, ui.LABprogressSend, ui.LABrecieveBytesSent,
                          ui.LABrecieveSpeed, ui.LABSendFileName}) {
        value->setText(QStringLiteral("1234567890 a much longer text than the field has room for"));
        value->setText(QStringLiteral("1"));
    }
    QCoreApplication::processEvents();
    QCOMPARE(requests.count, 0);
    QCOMPARE(ui.LABSendFileName->geometry(), before);

    // A burst of small files, each shown whole and then cleared, in one turn: the bar takes
    // each value at once but paints only with the window's next paint.
    EventCount paints(QEvent::Paint);
    ui.ProgressRecieve->installEventFilter(&paints);
    for (int file = 0; file < 50; ++file) {
        showTransferProgress(*ui.LABrecieveBytesSent, *ui.LABprogressRecieve, *ui.ProgressRecieve,
                             4096, 4096);
        QCOMPARE(ui.ProgressRecieve->value(), 100);
        setBarValue(*ui.ProgressRecieve, 0);
        QCOMPARE(ui.ProgressRecieve->value(), 0);
    }
    QCOMPARE(paints.count, 0);
    QTRY_VERIFY_WITH_TIMEOUT(paints.count > 0, 5000);
    QVERIFY(paints.count <= 2);
}

void TestWindow::clockShowsTheTimeOfDayEverySecond()
{
    QCOMPARE(clockText(QTime(9, 5, 3)), QStringLiteral("09:05:03"));
    QCOMPARE(clockText(QTime(23, 59, 59)), QStringLiteral("23:59:59"));

    QLabel* panel = window_->ui().StatusPanel2;
    // The window's one-second timer ticks as the test says, rather than in real time.
    QTimer* timer = window_->ui().TimerOneSecond;
    QVERIFY(timer->isActive());
    QCOMPARE(timer->intervalAsDuration(), std::chrono::seconds(1));
    const auto tick = [timer] { return QMetaObject::invokeMethod(timer, "timeout"); };
    platform_->clock.now = QTime(23, 59, 59);
    QVERIFY(tick());
    QCOMPARE(panel->text(), QStringLiteral("23:59:59"));
    platform_->clock.now = QTime(0, 0, 0, 400);
    QVERIFY(tick());
    QCOMPARE(panel->text(), QStringLiteral("00:00:00"));
    platform_->clock.now = QTime(0, 0, 1);
    QVERIFY(tick());
    QCOMPARE(panel->text(), QStringLiteral("00:00:01"));
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
