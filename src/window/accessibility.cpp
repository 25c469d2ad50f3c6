#include "window/accessibility.h"

#include "window/mainlayout.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

namespace
{

// The class of the program's window, which the factory below has no other way to know.
QString& windowClass()
{
    static QString name;
    return name;
}

// A plain top-level widget shows as a client area; the program's window is a frame.
QAccessibleInterface* windowAsFrame(const QString& className, QObject* object)
{
    if (className != windowClass() || !object->isWidgetType())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}

QLabel& header(const QWidget& window, const char* name)
{
    auto* label = window.findChild<QLabel*>(QLatin1String(name));
    Q_ASSERT(label);
    return *label;
}

void nameAfter(QLabel& panelHeader, QWidget& control)
{
    control.setAccessibleName(panelHeader.text());
}

} // namespace

void makeAccessible(QWidget& window, const MainUi& ui)
{
    windowClass() = QLatin1String(window.metaObject()->className());
    QAccessible::installFactory(&windowAsFrame);
    // The caption spaces the name out, which a screen reader would spell letter by letter.
    window.setAccessibleName(QStringLiteral("Quillo v1.00"));

    QLabel& addressBook = header(window, "Label1");
    addressBook.setBuddy(ui.ListIPaddress);
    nameAfter(addressBook, *ui.ListIPaddress);
    QLabel& sendQueue = header(window, "Label13");
    sendQueue.setBuddy(ui.LSTsends);
    nameAfter(sendQueue, *ui.LSTsends);

    // The chat's header stands over both its transcript and its input line; their
    // descriptions tell the two apart.
    QLabel& chat = header(window, "Label7");
    chat.setBuddy(ui.ChatRX);
    nameAfter(chat, *ui.ChatRX);
    ui.ChatRX->setAccessibleDescription(QStringLiteral("The lines sent and received"));
    nameAfter(chat, *ui.ChatTX);
    ui.ChatTX->setAccessibleDescription(
        QStringLiteral("Type a line and press Enter to send it to everyone in the address book"));
}
