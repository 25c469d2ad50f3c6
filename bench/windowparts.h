#pragma once

// What the benchmark's window processes share: a person's answers to the window's dialogs,
// a desktop that opens nothing, and settings of their own.

#include "platform/settingsstore.h"
#include "window/desktop.h"
#include "window/dialogs.h"

#include <QDir>

#include <cstdio>

// The dialogs as a person would answer them: the file to queue, OK to everything else.
class ScriptedDialogs : public Dialogs
{
public:
    void message(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void notice(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void input(const QString&, const QString&, const QString&, TextEntered entered) override
    {
        entered({});
    }
    void openFiles(const QString&, const QString&, FilesChosen chosen) override { chosen({file}); }
    void chooseFolder(const QString&, const QString&, FolderChosen) override {}
    void ask(const QString&, Answered answered) override { answered(true); }
    QString saveFile(const QString&, const QString&) override { return {}; }
    QString file;
};

// Nothing is opened on this desktop.
class QuietDesktop : public Desktop
{
public:
    void openFolder(const QString&) override {}
    void openFile(const QString&) override {}
    void showInFolder(const QString&) override {}
};

// Settings in folder, saving into its "in" and with peer as the one entry of the address
// book.
inline bool knowOnePeer(SettingsStore& settings, const QDir& folder, const QString& peer)
{
    folder.mkpath(QStringLiteral("in"));
    settings.write(QStringLiteral("Settings"), QStringLiteral("SaveDir"),
                   folder.filePath(QStringLiteral("in")) + QLatin1Char('/'));
    settings.write(QStringLiteral("IPaddress0"), QStringLiteral("Name"), QStringLiteral("peer"));
    settings.write(QStringLiteral("IPaddress0"), QStringLiteral("IPaddress"), peer);
    return settings.save();
}
