#include "plain/protocol.h"
#include "support/testplatform.h"
#include "window/mainwindow.h"
#include "window/skin/nonclientarea.h"
#include "window/skin/nonclientskin.h"
#include "window/skin/skinpieces.h"

#include <QAccessible>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStatusBar>
#include <QTcpServer>
#include <QtTest>

namespace
{

const QHostAddress kAddress(QStringLiteral("127.0.0.40"));
const QColor kBackground(123, 189, 214);
constexpr QRgb kFiller = 0xFFFF00FF;

// What a stand-in for the skinning component saw.
struct SkinRecord {
    QStringList calls;
    qint64 stripKey = 0;
    qint64 edgesKey = 0;
    QWidget* window = nullptr;
    QString localIPAtFirstCall;
    int namesAtFirstCall = -1;
    bool destroyed = false;
};

// Records every call with its values and refuses the call numbered failAt (counting from
// 1; 0 refuses none). Reports back the background colour it was given, as the real
// component does. Notes how far start-up had gone when the first call came.
class RecordingSkin : public NonClientSkinInterface
{
public:
    RecordingSkin(SkinRecord& record, int failAt, const Main* window)
        : record_(record), failAt_(failAt), window_(window)
    {
    }
    ~RecordingSkin() override { record_.destroyed = true; }

    bool setCaptionTextColour(quint32 colour) override
    {
        return step(QStringLiteral("captionText %1").arg(colour));
    }
    bool setCaptionShadowColour(quint32 colour) override
    {
        return step(QStringLiteral("captionShadow %1").arg(colour));
    }
    bool setInactiveCaptionTextColour(qint32 colour) override
    {
        return step(QStringLiteral("inactiveCaptionText %1").arg(colour));
    }
    bool setInactiveCaptionShadowColour(qint32 colour) override
    {
        return step(QStringLiteral("inactiveCaptionShadow %1").arg(colour));
    }
    bool setCaptionAlignment(qint32 alignment) override
    {
        return step(QStringLiteral("captionAlignment %1").arg(alignment));
    }
    bool setBackgroundColour(quint32 colour) override
    {
        background_ = colour;
        return step(QStringLiteral("background %1").arg(colour));
    }
    bool setCaptionFont(const QFont& font) override
    {
        return step(QStringLiteral("captionFont ") + font.toString());
    }
    bool setInactiveCaptionFont(const QFont& font) override
    {
        return step(QStringLiteral("inactiveCaptionFont ") + font.toString());
    }
    bool apply(QWidget& window, const QPixmap& captionStrip, const QPixmap& frameEdges,
               int buttonWidth, int buttonHeight, int fixedLeftEnd, int fixedRightStart,
               int pieceWidth, int secondPieceLeft) override
    {
        record_.window = &window;
        record_.stripKey = captionStrip.cacheKey();
        record_.edgesKey = frameEdges.cacheKey();
        const QList<int> numbers{buttonWidth,     buttonHeight, fixedLeftEnd,
                                 fixedRightStart, pieceWidth,   secondPieceLeft};
        QStringList text;
        for (int number : numbers)
            text.append(QString::number(number));
        return step(QStringLiteral("apply ") + text.join(QLatin1Char(' ')));
    }
    std::optional<quint32> backgroundColour() const override
    {
        if (!step(QStringLiteral("read background")))
            return std::nullopt;
        return background_;
    }

private:
    bool step(const QString& call) const
    {
        if (record_.calls.isEmpty()) {
            record_.localIPAtFirstCall = window_->ui().LABSendLocalIP->text();
            record_.namesAtFirstCall = window_->ui().ListIPaddress->count();
        }
        record_.calls.append(call);
        return record_.calls.size() != failAt_;
    }

    SkinRecord& record_;
    int failAt_;
    const Main* window_;
    std::optional<quint32> background_;
};

// The real component, except that it cannot report the background colour: it has taken
// over the frame by the time it fails.
class SkinFailingAfterApply : public NonClientSkin
{
public:
    std::optional<quint32> backgroundColour() const override { return std::nullopt; }
};

// A settings file with a save folder (so start-up asks nothing) and one address.
void prepareSettings(TestPlatform& p)
{
    p.settings().write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), p.folder() + "/");
    p.settings().write(QStringLiteral("IPaddress4"), QStringLiteral("Name"),
                       QStringLiteral("Anna"));
    p.settings().write(QStringLiteral("IPaddress4"), QStringLiteral("IPaddress"),
                       QStringLiteral("10.0.0.1"));
}

// Whether any pixel of image is see-through, and whether any is not.
std::pair<bool, bool> clearAndSolid(const QImage& image)
{
    bool clear = false;
    bool solid = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(image.pixel(x, y));
            clear = clear || alpha == 0;
            solid = solid || alpha == 255;
        }
    }
    return {clear, solid};
}

} // namespace

class TestSkin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void skinMakesItsCallsFirstInOrder();
    void aRefusedCallLeavesThePlainFrame_data();
    void aRefusedCallLeavesThePlainFrame();
    void aSkinFailingAfterApplyIsTakenOff();
    void noComponentLeavesThePlainFrame();
    void componentRefusesWhatItCannotDraw();

    void shippedImagesLoadAtTheSizesTheSkinCuts();
    void theSkinnedFrameShowsNoFiller();
    void buttonCellsAreCutFromTheStrip();

    void skinnedWindowKeepsItsClientArea();
    void backgroundAfterStartUp();
    void buttonUnderThePointerShowsPaler();
    void closeButtonUnloadsTheWindow();
    void maximiseButtonTogglesAndRestores();
    void minimiseButtonMinimises();
    void doubleClickOnTheCaptionToggles();
    void edgesResizeAndCaptionMoves();
    void captionButtonsAreReachedAndPressedByKeyboard();
    void captionButtonsArePressedByAssistiveTechnology();

private:
    Main& loadedWindow();
    NonClientArea& area();
    void click(const QPoint& where);

    std::unique_ptr<TestPlatform> platform_;
    std::unique_ptr<Main> window_;
};

void TestSkin::init()
{
    platform_ = std::make_unique<TestPlatform>();
    prepareSettings(*platform_);
}

void TestSkin::cleanup()
{
    window_.reset();
    platform_.reset();
}

// A window after start-up with the real skinning component, shown and active.
Main& TestSkin::loadedWindow()
{
    window_ = std::make_unique<Main>(platform_->platform(), kAddress);
    if (!window_->Form_Load())
        qFatal("start-up failed");
    window_->show();
    window_->activateWindow();
    if (!QTest::qWaitForWindowActive(window_.get()))
        qFatal("the window did not become active");
    return *window_;
}

NonClientArea& TestSkin::area()
{
    auto* frame = window_->findChild<NonClientArea*>();
    if (!frame)
        qFatal("the window has no skinned frame");
    return *frame;
}

void TestSkin::click(const QPoint& where)
{
    QTest::mouseClick(&area(), Qt::LeftButton, {}, where);
}

void TestSkin::skinMakesItsCallsFirstInOrder()
{
    SkinRecord seen;
    platform_->newSkin = [&] { return std::make_unique<RecordingSkin>(seen, 0, window_.get()); };
    window_ = std::make_unique<Main>(platform_->platform(), kAddress);
    QVERIFY(window_->Form_Load());

    const QString font = window_->font().toString();
    QCOMPARE(seen.calls, (QStringList{
                             QStringLiteral("captionText 16777215"),
                             QStringLiteral("captionShadow 13382451"),
                             QStringLiteral("inactiveCaptionText 0"),
                             QStringLiteral("inactiveCaptionShadow 16777215"),
                             QStringLiteral("captionAlignment 0"),
                             QStringLiteral("background 14073211"), // red 123, green 189, blue 214
                             QStringLiteral("captionFont ") + font,
                             QStringLiteral("inactiveCaptionFont ") + font,
                             QStringLiteral("apply 19 20 90 140 240 400"),
                             QStringLiteral("read background"),
                         }));
    QCOMPARE(seen.window, window_.get());
    QCOMPARE(seen.stripKey, window_->ui().TheSkin[0].cacheKey());
    QCOMPARE(seen.edgesKey, window_->ui().TheSkin[1].cacheKey());
    // Before anything else start-up does: no address shown, no address book loaded yet.
    QCOMPARE(seen.localIPAtFirstCall, QStringLiteral("0.0.0.0"));
    QCOMPARE(seen.namesAtFirstCall, 0);
    QCOMPARE(window_->ui().ListIPaddress->count(), 1);
    // The window keeps the object for its whole life and takes its background from it.
    QVERIFY(!seen.destroyed);
    QCOMPARE(window_->palette().color(QPalette::Window), kBackground);
    window_.reset();
    QVERIFY(seen.destroyed);
}

void TestSkin::aRefusedCallLeavesThePlainFrame_data()
{
    QTest::addColumn<int>("failAt");
    for (int step = 1; step <= 10; ++step)
        QTest::addRow("call %d refused", step) << step;
}

void TestSkin::aRefusedCallLeavesThePlainFrame()
{
    QFETCH(int, failAt);
    SkinRecord seen;
    platform_->newSkin = [&] {
        return std::make_unique<RecordingSkin>(seen, failAt, window_.get());
    };
    window_ = std::make_unique<Main>(platform_->platform(), kAddress);
    const QColor plainBackground = window_->palette().color(QPalette::Window);

    QVERIFY(window_->Form_Load());
    // Skin stopped at the refused call; the half-made skin is let go.
    QCOMPARE(seen.calls.size(), failAt);
    QVERIFY(seen.destroyed);
    // The window has the system's frame, its own background and its size, and start-up
    // went on as usual.
    QVERIFY(!(window_->windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(window_->contentsMargins(), QMargins());
    QCOMPARE(window_->size(), QSize(797, 521));
    QCOMPARE(window_->palette().color(QPalette::Window), plainBackground);
    QCOMPARE(window_->ui().LABSendLocalIP->text(), kAddress.toString());
    QCOMPARE(window_->ui().ListIPaddress->count(), 1);
    QTcpServer other;
    QVERIFY(!other.listen(kAddress, kFilePort)); // the window listens
}

void TestSkin::aSkinFailingAfterApplyIsTakenOff()
{
    platform_->newSkin = [] { return std::make_unique<SkinFailingAfterApply>(); };
    window_ = std::make_unique<Main>(platform_->platform(), kAddress);
    QVERIFY(window_->Form_Load());
    QVERIFY(!window_->findChild<NonClientArea*>());
    QVERIFY(!(window_->windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(window_->contentsMargins(), QMargins());
    QCOMPARE(window_->size(), QSize(797, 521));
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QCOMPARE(window_->ui().StatusBar->mapTo(window_.get(), QPoint(0, 0)).y() +
                 window_->ui().StatusBar->height(),
             521);
}

void TestSkin::noComponentLeavesThePlainFrame()
{
    platform_->newSkin = [] { return std::unique_ptr<NonClientSkinInterface>(); };
    window_ = std::make_unique<Main>(platform_->platform(), kAddress);
    QVERIFY(window_->Form_Load());
    QVERIFY(!(window_->windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(window_->size(), QSize(797, 521));
    QVERIFY(!window_->findChild<NonClientArea*>());
    QCOMPARE(window_->ui().LABSendLocalIP->text(), kAddress.toString());
}

void TestSkin::componentRefusesWhatItCannotDraw()
{
    Main window(platform_->platform(), kAddress);
    const QPixmap strip = window.ui().TheSkin[0];
    const QPixmap edges = window.ui().TheSkin[1];
    NonClientSkin skin;

    QVERIFY(!skin.backgroundColour());
    QVERIFY(!skin.setBackgroundColour(0x1000000)); // more than three colour bytes
    QVERIFY(!skin.setCaptionTextColour(0xFF000000));
    QVERIFY(!skin.setInactiveCaptionTextColour(-1));
    QVERIFY(!skin.setCaptionAlignment(3));
    QVERIFY(skin.setBackgroundColour(14073211));
    QCOMPARE(skin.backgroundColour(), std::optional<quint32>(14073211));

    // Images too small for the layout, a layout that does not hold together, a window
    // that is not a top-level one: refused, and the window is left as it was.
    QVERIFY(!skin.apply(window, strip.copy(0, 0, 500, 48), edges, 19, 20, 90, 140, 240, 400));
    QVERIFY(!skin.apply(window, strip, edges.copy(0, 0, 60, 10), 19, 20, 90, 140, 240, 400));
    QVERIFY(!skin.apply(window, strip, edges, 19, 20, 140, 90, 240, 400));
    QVERIFY(!skin.apply(window, strip, edges, 19, 30, 90, 140, 240, 400));
    QVERIFY(!skin.apply(window, QPixmap(), edges, 19, 20, 90, 140, 240, 400));
    QVERIFY(!skin.apply(*window.ui().ListIPaddress, strip, edges, 19, 20, 90, 140, 240, 400));
    QVERIFY(!(window.windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(window.size(), QSize(797, 521));
    QVERIFY(!skin.area());

    QVERIFY(skin.apply(window, strip, edges, 19, 20, 90, 140, 240, 400));
    QVERIFY(skin.area());
    // Applied once only.
    QVERIFY(!skin.apply(window, strip, edges, 19, 20, 90, 140, 240, 400));
}

// The images shipped with the program load, and hold what the skin cuts from them: two
// caption pieces and a row of button cells across the strip, seven frame pieces in a row.
void TestSkin::shippedImagesLoadAtTheSizesTheSkinCuts()
{
    Main window(platform_->platform(), kAddress);
    const QPixmap& strip = window.ui().TheSkin[0];
    const QPixmap& edges = window.ui().TheSkin[1];
    QVERIFY(!strip.isNull());
    QVERIFY(!edges.isNull());
    QCOMPARE(strip.size(), QSize(400 + 240, 48));
    QCOMPARE(edges.size(), QSize(7 * 10, 10));
}

// What a person sees of the skin: a frame with no filler showing, in the frame's own
// tones, and a caption whose inactive piece is paler than the active one.
void TestSkin::theSkinnedFrameShowsNoFiller()
{
    Main& w = loadedWindow();
    const QImage shown = w.grab().toImage();
    const QRect client = w.contentsRect();
    int frame = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if (client.contains(x, y))
                continue;
            ++frame;
            QVERIFY2(shown.pixel(x, y) != kFiller,
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
    }
    QVERIFY(frame > 0);
    const std::optional<SkinPieces> pieces = SkinPieces::cut(w.ui().TheSkin[0], w.ui().TheSkin[1],
                                                             SkinLayout{19, 20, 90, 140, 240, 400});
    QVERIFY(pieces);
    const auto lightness = [](const QPixmap& piece) {
        const QImage image = piece.toImage();
        qint64 sum = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                sum += image.pixelColor(x, y).lightness();
        }
        return sum / (image.width() * image.height());
    };
    QVERIFY(lightness(pieces->captionPiece(false)) > lightness(pieces->captionPiece(true)));
    const QColor edge = shown.pixelColor(client.left() / 2, client.center().y());
    QVERIFY2(edge.blue() >= edge.red() && edge.blue() >= edge.green(), "blue tones");
}

void TestSkin::buttonCellsAreCutFromTheStrip()
{
    Main window(platform_->platform(), kAddress);
    const std::optional<SkinPieces> pieces = SkinPieces::cut(
        window.ui().TheSkin[0], window.ui().TheSkin[1], SkinLayout{19, 20, 90, 140, 240, 400});
    QVERIFY(pieces);
    QCOMPARE(pieces->captionHeight(), 48);
    QCOMPARE(pieces->frameThickness(), 10);
    for (CaptionButton button : {CaptionButton::Close, CaptionButton::Restore,
                                 CaptionButton::Maximise, CaptionButton::Minimise}) {
        for (bool paler : {false, true}) {
            const QImage cell = pieces->button(button, paler).toImage();
            QCOMPARE(cell.size(), QSize(19, 20));
            // Round corners of filler, which shows as see-through; a solid face.
            QCOMPARE(qAlpha(cell.pixel(0, 0)), 0);
            QCOMPARE(qAlpha(cell.pixel(9, 10)), 255);
        }
        // The paler row is lighter than the normal one.
        QVERIFY(pieces->button(button, true).toImage().pixelColor(3, 10).lightness() >
                pieces->button(button, false).toImage().pixelColor(3, 10).lightness());
    }
    QCOMPARE(pieces->captionPiece(true).size(), QSize(240, 48));
    QCOMPARE(pieces->captionPiece(false).size(), QSize(240, 48));
    for (const QPixmap* edge :
         {&pieces->leftSide(true), &pieces->leftSide(false), &pieces->rightSide(true),
          &pieces->rightSide(false), &pieces->bottom(), &pieces->lowerLeftCorner(),
          &pieces->lowerRightCorner()}) {
        QCOMPARE(edge->size(), QSize(10, 10));
        QCOMPARE(clearAndSolid(edge->toImage()), std::make_pair(false, true));
    }
}

void TestSkin::skinnedWindowKeepsItsClientArea()
{
    Main& w = loadedWindow();
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(w.contentsRect().size(), QSize(797, 521));
    QCOMPARE(w.contentsMargins(), QMargins(10, 48, 10, 10));
    QCOMPARE(w.size(), QSize(817, 579));
    // Every control lies inside the client area.
    for (QWidget* control :
         {static_cast<QWidget*>(w.ui().ListIPaddress), static_cast<QWidget*>(w.ui().StatusBar),
          static_cast<QWidget*>(w.ui().ChatTX)}) {
        const QRect place(control->mapTo(&w, QPoint(0, 0)), control->size());
        QVERIFY(w.contentsRect().contains(place));
    }
}

void TestSkin::backgroundAfterStartUp()
{
    Main& w = loadedWindow();
    QCOMPARE(w.palette().color(QPalette::Window), kBackground);
    // Just inside the client area, between its edge and the first control.
    const QPoint inside = w.contentsRect().topLeft() + QPoint(1, 1);
    QCOMPARE(w.grab().toImage().pixelColor(inside), kBackground);
}

void TestSkin::buttonUnderThePointerShowsPaler()
{
    Main& w = loadedWindow();
    const std::optional<SkinPieces> pieces = SkinPieces::cut(w.ui().TheSkin[0], w.ui().TheSkin[1],
                                                             SkinLayout{19, 20, 90, 140, 240, 400});
    QVERIFY(pieces);
    const QRect close = area().buttonRect(CaptionButton::Close);
    QCOMPARE(close.size(), QSize(19, 20));
    QVERIFY(close.right() < w.width() - 10);
    QVERIFY(close.top() > 0 && close.bottom() < 48);
    const QPoint face = close.topLeft() + QPoint(3, 10);
    const auto shown = [&] { return w.grab().toImage().pixelColor(face); };
    const QColor normal = pieces->button(CaptionButton::Close, false).toImage().pixelColor(3, 10);
    const QColor pale = pieces->button(CaptionButton::Close, true).toImage().pixelColor(3, 10);

    QCOMPARE(shown(), normal);
    QTest::mouseMove(&area(), close.center());
    QTRY_COMPARE_WITH_TIMEOUT(shown(), pale, 2000);
    QTest::mouseMove(&area(), QPoint(w.width() / 2, 30)); // the caption, off the buttons
    QTRY_COMPARE_WITH_TIMEOUT(shown(), normal, 2000);
}

void TestSkin::closeButtonUnloadsTheWindow()
{
    Main& w = loadedWindow();
    click(area().buttonRect(CaptionButton::Close).center());
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 2000);
    // Form_Unload ran: the address book was written back, compacted, and the file port
    // is free again.
    QSettings file(platform_->settingsPath(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("IPaddress0/Name")).toString(), QStringLiteral("Anna"));
    QVERIFY(!file.childGroups().contains(QStringLiteral("IPaddress4")));
    QTcpServer next;
    QVERIFY(next.listen(kAddress, kFilePort));
}

void TestSkin::maximiseButtonTogglesAndRestores()
{
    Main& w = loadedWindow();
    const QSize normal = w.size();
    click(area().buttonRect(CaptionButton::Maximise).center());
    QTRY_VERIFY_WITH_TIMEOUT(w.isMaximized(), 2000);
    // A maximised window has no frame edges, only the caption.
    QCOMPARE(w.contentsMargins(), QMargins(0, 48, 0, 0));

    click(area().buttonRect(CaptionButton::Restore).center());
    QTRY_VERIFY_WITH_TIMEOUT(!w.isMaximized(), 2000);
    QCOMPARE(w.contentsMargins(), QMargins(10, 48, 10, 10));
    QTRY_COMPARE_WITH_TIMEOUT(w.size(), normal, 2000);
}

void TestSkin::minimiseButtonMinimises()
{
    Main& w = loadedWindow();
    click(area().buttonRect(CaptionButton::Minimise).center());
    QTRY_VERIFY_WITH_TIMEOUT(w.isMinimized(), 2000);
    QVERIFY(w.isVisible()); // minimised, not closed
}

void TestSkin::doubleClickOnTheCaptionToggles()
{
    Main& w = loadedWindow();
    const QPoint caption(w.width() / 2, 24);
    QTest::mouseDClick(&area(), Qt::LeftButton, {}, caption);
    QTRY_VERIFY_WITH_TIMEOUT(w.isMaximized(), 2000);
    QTest::mouseDClick(&area(), Qt::LeftButton, {}, caption);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isMaximized(), 2000);
    // A double click on the client area does nothing of the kind.
    QTest::mouseDClick(&w, Qt::LeftButton, {}, w.contentsRect().topLeft() + QPoint(1, 1));
    QVERIFY(!w.isMaximized());
}

// The offscreen platform has no window system to move or resize the window, so this
// also covers the window following the pointer by itself.
void TestSkin::edgesResizeAndCaptionMoves()
{
    Main& w = loadedWindow();
    const QRect before = w.geometry();
    const int chatWidth = w.ui().ChatRX->width();

    const QPoint rightEdge(w.width() - 3, w.height() / 2);
    QTest::mousePress(&area(), Qt::LeftButton, {}, rightEdge);
    QTest::mouseMove(&area(), rightEdge + QPoint(60, 0));
    QTest::mouseRelease(&area(), Qt::LeftButton, {}, rightEdge + QPoint(60, 0));
    QTRY_COMPARE_WITH_TIMEOUT(w.width(), before.width() + 60, 2000);
    QCOMPARE(w.x(), before.x());
    // The controls keep their arrangement and the chat takes the new width.
    QTRY_COMPARE_WITH_TIMEOUT(w.ui().ChatRX->width(), chatWidth + 60, 2000);
    QCOMPARE(w.contentsRect().size(), QSize(797 + 60, 521));

    const QPoint caption(w.width() / 2, 24);
    QTest::mousePress(&area(), Qt::LeftButton, {}, caption);
    QTest::mouseMove(&area(), caption + QPoint(30, 20));
    QTest::mouseRelease(&area(), Qt::LeftButton, {}, caption + QPoint(30, 20));
    QTRY_COMPARE_WITH_TIMEOUT(w.pos(), before.topLeft() + QPoint(30, 20), 2000);
    QCOMPARE(w.width(), before.width() + 60);
}

namespace
{

// What has the keyboard focus: a button by its accessible name, else the object name.
QString focused()
{
    QWidget* widget = QApplication::focusWidget();
    QAccessibleInterface* it = QAccessible::queryAccessibleInterface(widget);
    return it->role() == QAccessible::Button ? it->text(QAccessible::Name) : widget->objectName();
}

QString pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    return focused();
}

// Presses the push button of that name through its accessible action, as a screen
// reader does; false when there is no such button.
bool pressAccessible(QAccessibleInterface* under, const QString& name)
{
    for (int i = 0; i < under->childCount(); ++i) {
        QAccessibleInterface* child = under->child(i);
        if (child->role() == QAccessible::Button && child->text(QAccessible::Name) == name &&
            child->actionInterface()) {
            child->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            return true;
        }
        if (pressAccessible(child, name))
            return true;
    }
    return false;
}

} // namespace

void TestSkin::captionButtonsAreReachedAndPressedByKeyboard()
{
    Main& w = loadedWindow();
    const QPoint face = area().buttonRect(CaptionButton::Minimise).topLeft() + QPoint(3, 10);
    const auto shown = [&] { return w.grab().toImage().pixelColor(face); };
    const QColor normal = shown();

    // Tab goes on from the chat input to the caption buttons, left to right, and round.
    w.ui().ChatTX->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(w.ui().ChatTX->hasFocus(), 2000);
    QCOMPARE(pressKey(Qt::Key_Tab), QStringLiteral("Minimise"));
    QTRY_VERIFY_WITH_TIMEOUT(shown() != normal, 2000); // the focused button shows it
    QCOMPARE(pressKey(Qt::Key_Tab), QStringLiteral("Maximise"));
    QCOMPARE(pressKey(Qt::Key_Tab), QStringLiteral("Close"));
    QCOMPARE(pressKey(Qt::Key_Tab), QStringLiteral("ListIPaddress"));
    QCOMPARE(pressKey(Qt::Key_Tab, Qt::ShiftModifier), QStringLiteral("Close"));
    QCOMPARE(shown(), normal);

    // Space and Enter press them as a click does.
    QCOMPARE(pressKey(Qt::Key_Tab, Qt::ShiftModifier), QStringLiteral("Maximise"));
    pressKey(Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(w.isMaximized(), 2000);
    QCOMPARE(focused(), QStringLiteral("Restore"));
    pressKey(Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isMaximized(), 2000);
    QCOMPARE(pressKey(Qt::Key_Tab), QStringLiteral("Close"));
    pressKey(Qt::Key_Enter, Qt::KeypadModifier);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 2000);
}

void TestSkin::captionButtonsArePressedByAssistiveTechnology()
{
    Main& w = loadedWindow();
    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(&w);
    QVERIFY(pressAccessible(frame, QStringLiteral("Maximise")));
    QTRY_VERIFY_WITH_TIMEOUT(w.isMaximized(), 2000);
    QVERIFY(pressAccessible(frame, QStringLiteral("Restore")));
    QTRY_VERIFY_WITH_TIMEOUT(!w.isMaximized(), 2000);
    QVERIFY(pressAccessible(frame, QStringLiteral("Minimise")));
    QTRY_VERIFY_WITH_TIMEOUT(w.isMinimized(), 2000);
    QVERIFY(pressAccessible(frame, QStringLiteral("Close")));
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 2000);
}

QTEST_MAIN(TestSkin)
#include "tst_skin.moc"
