#include "window/mainlayout.h"

#include "window/privacymark.h"
#include "window/windowfont.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace
{

// Sizes in pixels at 15 twips per pixel.
constexpr int kLeftColumnWidth = 311;
constexpr int kCaptionWidth = 57;
constexpr int kClockPanelWidth = 96; // one inch
constexpr int kRowHeight = 19;
constexpr qreal kListPointSize = 11.25;
constexpr qreal kSendListPointSize = 6.75;

const QString kCredits =
    QStringLiteral("Quillo v1.00 - files and chat between the people in your address book");

const char* const kStyleSheet = R"(
QLabel[role="header"] { background-color: rgb(0, 0, 192); color: white; }
QLabel[role="caption"] { background-color: rgb(192, 255, 255); padding-right: 2px; }
QLabel[role="value"] { background-color: rgb(224, 255, 255); padding-left: 2px; }
QListWidget { background-color: rgb(224, 255, 255); }
QLineEdit#ChatTX { background-color: rgb(240, 255, 255); }
QPlainTextEdit#ChatRX { background-color: rgb(192, 255, 255); }
)";

template <typename Widget> Widget* named(Widget* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLabel* label(QWidget& window, const char* name, const char* text, const char* role)
{
    auto* result = named(new QLabel(QLatin1String(text), &window), name);
    result->setProperty("role", QLatin1String(role));
    result->setAutoFillBackground(true);
    return result;
}

// A privacy mark at the right end of value, which keeps its text.
PrivacyMark* privacyMark(QLabel& value, const char* name)
{
    auto* mark = named(new PrivacyMark(&value), name);
    auto* row = new QHBoxLayout(&value);
    row->setContentsMargins(0, 0, 2, 0);
    row->addStretch();
    row->addWidget(mark, 0, Qt::AlignVCenter);
    return mark;
}

QLabel* header(QWidget& window, const char* name, const char* text)
{
    QLabel* result = label(window, name, text, "header");
    result->setAlignment(Qt::AlignCenter);
    result->setFont(windowFont(kWindowPointSize, true));
    return result;
}

QLabel* caption(QWidget& window, const char* name, const char* text)
{
    QLabel* result = label(window, name, text, "caption");
    result->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    result->setFixedHeight(kRowHeight);
    result->setMinimumWidth(kCaptionWidth);
    return result;
}

QLabel* value(QWidget& window, const char* name, const char* text)
{
    QLabel* result = label(window, name, text, "value");
    result->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    result->setTextFormat(Qt::PlainText); // values show what peers send, never as markup
    return result;
}

// Holds a value label at exactly the size the layout gives the field. The texts of the
// value labels change many times a second during a transfer; held this way, a change
// repaints its label and never lays out the window anew. Long paths cannot push the
// columns apart either.
class ValueField : public QWidget
{
public:
    explicit ValueField(QLabel* label) : QWidget(label->parentWidget()), label_(label)
    {
        label_->setParent(this);
        setFixedHeight(kRowHeight);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setMinimumWidth(1);
    }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        label_->setFixedSize(size());
        label_->move(0, 0);
    }

private:
    QLabel* label_;
};

// A value label goes into its field; any other control stands as it is.
QWidget* field(QWidget* control)
{
    if (auto* text = qobject_cast<QLabel*>(control))
        return new ValueField(text);
    return control;
}

QPushButton* button(QWidget& window, const char* name, const char* text)
{
    return named(new QPushButton(QLatin1String(text), &window), name);
}

QListWidget* list(QWidget& window, const char* name, const QFont& font)
{
    auto* result = named(new QListWidget(&window), name);
    result->setFont(font);
    result->setSelectionMode(QAbstractItemView::SingleSelection);
    result->setSortingEnabled(false);
    return result;
}

QProgressBar* progressBar(QWidget& window, const char* name)
{
    auto* result = named(new QProgressBar(&window), name);
    result->setRange(0, 100);
    result->setValue(0);
    result->setTextVisible(false);
    result->setFixedHeight(kRowHeight);
    return result;
}

QVBoxLayout* panel(QLabel* panelHeader)
{
    auto* layout = new QVBoxLayout;
    layout->setSpacing(2);
    layout->addWidget(panelHeader);
    return layout;
}

// Two buttons side by side, the third under them across the panel's width.
QGridLayout* buttonBlock(QPushButton* first, QPushButton* second, QPushButton* third)
{
    auto* grid = new QGridLayout;
    grid->setSpacing(2);
    grid->addWidget(first, 0, 0);
    grid->addWidget(second, 0, 1);
    grid->addWidget(third, 1, 0, 1, 2);
    return grid;
}

// Rows of "caption : value", the value taking both value columns unless a second
// control shares its row.
class RowGrid
{
public:
    RowGrid() { grid_->setSpacing(2); }
    void add(QLabel* rowCaption, QWidget* rowValue, QWidget* beside = nullptr)
    {
        grid_->addWidget(rowCaption, row_, 0);
        if (beside) {
            grid_->addWidget(field(rowValue), row_, 1);
            grid_->addWidget(field(beside), row_, 2);
        } else {
            grid_->addWidget(field(rowValue), row_, 1, 1, 2);
        }
        ++row_;
    }
    QGridLayout* layout() const
    {
        grid_->setColumnStretch(1, 3);
        grid_->setColumnStretch(2, 2);
        return grid_;
    }

private:
    QGridLayout* grid_ = new QGridLayout;
    int row_ = 0;
};

QVBoxLayout* addressBookPanel(QWidget& w, MainUi& ui)
{
    QVBoxLayout* layout = panel(header(w, "Label1", "IP Address Book"));
    ui.ListIPaddress = list(w, "ListIPaddress", windowFont(kListPointSize, true));
    ui.BUTTaddNewAddress = button(w, "BUTTaddNewAddress", "Add New Address");
    ui.BUTTdeleteAddress = button(w, "BUTTdeleteAddress", "Delete Selected Address");
    ui.BUTTeditAddress = button(w, "BUTTeditAddress", "Edit Selected Address");
    layout->addWidget(ui.ListIPaddress, 1);
    layout->addLayout(buttonBlock(ui.BUTTaddNewAddress, ui.BUTTeditAddress, ui.BUTTdeleteAddress));
    return layout;
}

QVBoxLayout* sendQueuePanel(QWidget& w, MainUi& ui)
{
    QVBoxLayout* layout = panel(header(w, "Label13", "Files to Send"));
    ui.LSTsends = list(w, "LSTsends", windowFont(kSendListPointSize));
    ui.BUTTsendFile = button(w, "BUTTsendFile", "Add File to Send");
    ui.BUTclearsends = button(w, "BUTclearsends", "Clear All Files in the List");
    ui.BUTsendthesefiles = button(w, "BUTsendthesefiles", "Send These Files Now");
    layout->addWidget(ui.LSTsends, 1);
    layout->addLayout(buttonBlock(ui.BUTTsendFile, ui.BUTclearsends, ui.BUTsendthesefiles));
    return layout;
}

// One "caption : value" row whose value is a label of MainUi.
struct TextRow {
    const char* captionName;
    const char* caption;
    QLabel* MainUi::*value;
    const char* valueName;
    const char* text;
};

void addTextRows(RowGrid& rows, QWidget& w, MainUi& ui, std::initializer_list<TextRow> table)
{
    for (const TextRow& row : table)
        rows.add(caption(w, row.captionName, row.caption),
                 ui.*row.value = value(w, row.valueName, row.text));
}

QVBoxLayout* senderPanel(QWidget& w, MainUi& ui)
{
    QVBoxLayout* layout = panel(header(w, "Label2", "File Sender"));
    RowGrid rows;
    addTextRows(
        rows, w, ui,
        {
            {"Label5", "Local IP :", &MainUi::LABSendLocalIP, "LABSendLocalIP", "0.0.0.0"},
            {"Label6", "Remote IP :", &MainUi::LABSendRemoteIP, "LABSendRemoteIP", "0.0.0.0"},
            {"Label4", "Status :", &MainUi::LABSendStatus, "LABSendStatus", "Disconnected"},
            {"Label8", "File Name :", &MainUi::LABSendFileName, "LABSendFileName", ""},
            {"Label12", "Bytes Sent :", &MainUi::LABSendBytesSent, "LABSendBytesSent", "0"},
            {"Label10", "File Size :", &MainUi::LABSendFileSize, "LABSendFileSize", "0"},
        });
    ui.sendPrivacyMark = privacyMark(*ui.LABSendRemoteIP, "sendPrivacyMark");
    rows.add(caption(w, "Label9", "Progress :"), ui.ProgressSend = progressBar(w, "ProgressSend"),
             ui.LABprogressSend = value(w, "LABprogressSend", "0 %"));
    rows.add(caption(w, "Label11", "Speed :"),
             ui.LABsendSpeed = value(w, "LABsendSpeed", "0 K/sec"),
             ui.LABtotalProgress = value(w, "LABtotalProgress", "0 of 0 Files"));
    layout->addLayout(rows.layout());
    return layout;
}

QVBoxLayout* receiverPanel(QWidget& w, MainUi& ui)
{
    QVBoxLayout* layout = panel(header(w, "Label17", "File Reciever"));
    RowGrid rows;
    addTextRows(
        rows, w, ui,
        {
            {"Label29", "Local IP :", &MainUi::LABrecieveLocalIP, "LABrecieveLocalIP", "0.0.0.0"},
            {"Label31", "Remote IP :", &MainUi::LABrecieveRemoteIP, "LABrecieveRemoteIP",
             "0.0.0.0"},
            {"Label26", "Status :", &MainUi::LABrecieveStatus, "LABrecieveStatus", "Disconnected"},
            {"Label3", "File Name :", &MainUi::LABrecieveFileName, "LABrecieveFileName", ""},
            {"Label22", "Bytes Sent :", &MainUi::LABrecieveBytesSent, "LABrecieveBytesSent", "0"},
            {"Label24", "File Size :", &MainUi::LABrecieveFileSize, "LABrecieveFileSize", "0"},
        });
    ui.receivePrivacyMark = privacyMark(*ui.LABrecieveRemoteIP, "receivePrivacyMark");
    rows.add(caption(w, "Label25", "Progress :"),
             ui.ProgressRecieve = progressBar(w, "ProgressRecieve"),
             ui.LABprogressRecieve = value(w, "LABprogressRecieve", "0 %"));
    rows.add(caption(w, "Label23", "Speed :"),
             ui.LABrecieveSpeed = value(w, "LABrecieveSpeed", "0 K/sec"));
    layout->addLayout(rows.layout());
    return layout;
}

QVBoxLayout* chatPanel(QWidget& w, MainUi& ui)
{
    QVBoxLayout* layout = panel(header(w, "Label7", "Mini Chat"));
    // A plain text editor still shows coloured text, and it keeps up with a long and
    // fast-growing transcript where a rich text editor lays the whole document out anew.
    ui.ChatRX = named(new QPlainTextEdit(&w), "ChatRX");
    ui.ChatRX->setFont(windowFont(kWindowPointSize, true));
    ui.ChatRX->setReadOnly(true);
    ui.ChatTX = named(new QLineEdit(&w), "ChatTX");
    layout->addWidget(ui.ChatRX, 1);
    layout->addWidget(ui.ChatTX);
    return layout;
}

void buildStatusBar(QWidget& w, MainUi& ui)
{
    const QFont panelFont = windowFont(kWindowPointSize, true);
    ui.StatusBar = named(new QStatusBar(&w), "StatusBar");
    ui.StatusBar->setFont(panelFont);
    ui.StatusBar->setSizeGripEnabled(false);
    ui.StatusPanel1 = named(new QLabel(kCredits, &w), "StatusPanel1");
    ui.StatusPanel1->setToolTip(kCredits);
    ui.StatusPanel1->setTextFormat(Qt::PlainText); // it shows names and addresses, never as markup
    ui.StatusPanel1->setMinimumWidth(1);
    ui.StatusPanel2 = named(new QLabel(QStringLiteral("00:00:00"), &w), "StatusPanel2");
    ui.StatusPanel2->setToolTip(QStringLiteral("00:00:00"));
    ui.StatusPanel2->setFixedWidth(kClockPanelWidth);
    // Polished under the window's style sheet, a label takes the application's font
    // rather than the bar's, so each panel is given the bar's font itself.
    ui.StatusPanel1->setFont(panelFont);
    ui.StatusPanel2->setFont(panelFont);
    ui.StatusBar->addWidget(ui.StatusPanel1, 1);
    ui.StatusBar->addPermanentWidget(ui.StatusPanel2);
}

QTimer* timer(QWidget& w, const char* name, int intervalMs)
{
    auto* result = named(new QTimer(&w), name);
    result->setInterval(intervalMs);
    return result;
}

} // namespace

MainUi buildMainUi(QWidget& window)
{
    MainUi ui;
    window.setFont(windowFont());
    window.setStyleSheet(QLatin1String(kStyleSheet));

    auto* left = new QVBoxLayout;
    left->addLayout(addressBookPanel(window, ui), 3);
    left->addLayout(sendQueuePanel(window, ui), 2);
    // The column is as wide as designed, or wider where the face needs it for its buttons.
    left->addItem(new QSpacerItem(kLeftColumnWidth, 0, QSizePolicy::Fixed, QSizePolicy::Fixed));
    auto* leftColumn = new QWidget(&window);
    leftColumn->setLayout(left);
    leftColumn->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    left->setContentsMargins(0, 0, 0, 0);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->addLayout(senderPanel(window, ui));
    right->addStretch(1);
    right->addLayout(receiverPanel(window, ui));
    right->addStretch(1);

    auto* columns = new QHBoxLayout;
    columns->addWidget(leftColumn);
    columns->addLayout(right, 1);

    buildStatusBar(window, ui);

    auto* whole = new QVBoxLayout(&window);
    whole->setContentsMargins(4, 4, 4, 0);
    whole->addLayout(columns);
    whole->addLayout(chatPanel(window, ui), 1);
    whole->addWidget(ui.StatusBar);

    ui.TimerOneSecond = timer(window, "TimerOneSecond", 1000);

    // The skin makes the window anew as a frameless one, and its style sheet then gives
    // every control that only inherits its font the application's. Each keeps the window's.
    const QList<QWidget*> controls = window.findChildren<QWidget*>();
    for (QWidget* control : controls) {
        if (!control->testAttribute(Qt::WA_SetFont))
            control->setFont(control->parentWidget()->font());
    }

    ui.TheSkin = {QPixmap(QStringLiteral(":/skin/captionstrip.gif")),
                  QPixmap(QStringLiteral(":/skin/frameedges.gif"))};
    return ui;
}
