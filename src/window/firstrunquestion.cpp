#include "window/firstrunquestion.h"

#include "window/dialogs.h"
#include "window/savefolder.h"

QString askForSaveFolder(Dialogs& dialogs)
{
    dialogs.message(QStringLiteral("This is the First Time you have run Quillo, Please select a "
                                   "folder where you would like to save recieved files"));
    const QString chosen =
        dialogs.saveFile(QStringLiteral("Choose a folder where you want to save downloaded files"),
                         QStringLiteral("SELECT A FOLDER AND CLICK SAVE>>>"));
    return saveFolderFromDialogPath(chosen);
}
