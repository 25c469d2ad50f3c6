#include "window/tray.h"

#include "window/desktop.h"
#include "window/peertextview.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

namespace
{

class SystemTray : public Tray
{
public:
    SystemTray(const TrayActions& actions, Desktop& desktop) : actions_(actions), desktop_(desktop)
    {
        menu_.addAction(QStringLiteral("Show Window"), [this] { actions_.showWindow(); });
        menu_.addAction(QStringLiteral("Open Save Folder"), [this] { actions_.openSaveFolder(); });
        menu_.addAction(QStringLiteral("Received Files"), [this] { actions_.showReceivedFiles(); });
        menu_.addSeparator();
        menu_.addAction(QStringLiteral("Quit"), [this] { actions_.quit(); });
        icon_.setIcon(QApplication::windowIcon());
        icon_.setContextMenu(&menu_);
        QObject::connect(&icon_, &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger)
                                 actions_.showWindow();
                         });
        QObject::connect(&icon_, &QSystemTrayIcon::messageClicked, [this] {
            if (clickShows_.isEmpty())
                actions_.showWindow();
            else
                desktop_.showInFolder(clickShows_);
        });
        icon_.show();
    }

    // The tray shows the tooltip as rich text where it can: the name of a file arriving
    // is the sender's choice.
    void setToolTip(const QString& text) override { icon_.setToolTip(plainToolTip(text)); }

    void notify(const QString& title, const QString& text, const QString& filePath) override
    {
        // The desktop tells which notification was clicked only as "the last one".
        clickShows_ = filePath;
        icon_.showMessage(title, text, QSystemTrayIcon::Information);
    }

private:
    TrayActions actions_;
    Desktop& desktop_;
    QMenu menu_;
    QSystemTrayIcon icon_;
    QString clickShows_;
};

} // namespace

std::unique_ptr<Tray> newSystemTray(const TrayActions& actions, Desktop& desktop)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return nullptr;
    return std::make_unique<SystemTray>(actions, desktop);
}
