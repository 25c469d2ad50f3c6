#include "platform/clock.h"
#include "shell/dialogs.h"
#include "shell/skin/nonclientskin.h"
#include "shell/platform.h"
#include "platform/randomsource.h"
#include "platform/settingsstore.h"
#include "shell/mainwindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillo"));
    QApplication::setApplicationName(QStringLiteral("Quillo"));

    QtDialogs dialogs;
    SettingsStore settings(SettingsStore::userFilePath());
    SystemClock clock;
    UnseededRandom random;
    Platform platform{dialogs, settings, clock, random,
                      [] { return std::make_unique<NonClientSkin>(); }};

    Main window(platform);
    if (!window.Form_Load())
        return 1;
    window.show();
    return app.exec();
}
