#include "cli/commandkeys.h"

#include "addressbook/addressbook.h"
#include "cli/console.h"
#include "secure/privateidentity.h"
#include "platform/settingsstore.h"

CommandKeys::CommandKeys(SettingsStore& settings, AddressBook& book, const QString& dataFolder,
                         Console& console, QObject* parent)
    : QObject(parent), settings_(settings), book_(book), console_(console), keys_(book)
{
    connect(&keys_, &PeerKeys::keysChanged, this, &CommandKeys::store);
    std::variant<Identity, QString> opened = openPrivateIdentity(dataFolder);
    if (const QString* problem = std::get_if<QString>(&opened))
        console_.printProblem(*problem);
    else
        identity_ = std::move(std::get<Identity>(opened));
}

void CommandKeys::store()
{
    // A file that could not be read, or only in part, would lose what it holds if written.
    if (!settings_.readError() && !settings_.isDamaged()) {
        book_.store(settings_);
        if (settings_.save())
            return;
    }
    console_.printProblem(QStringLiteral("the keys in the address book could not be saved to %1")
                              .arg(settings_.fileName()));
}
