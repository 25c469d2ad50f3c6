#pragma once

#include "platform/settingsstore.h"
#include "support/enginefakes.h"
#include "window/desktop.h"
#include "window/dialogs.h"
#include "window/platform.h"
#include "window/skin/nonclientskin.h"
#include "window/tray.h"

#include <QHostAddress>
#include <QList>
#include <QQueue>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// One question the program asked, as the scripted dialogs saw it.
struct DialogCall {
    QString kind; // "message", "notice", "input", "openFiles", "chooseFolder", "ask", "saveFile"
    QString text; // the message or the prompt
    QString title;
    QString preset; // input preset, file filter, start folder or preset file name
};

// Answers the program's questions from a script, in order, and records every question.
// A question with no scripted answer left is answered as if cancelled. The questions that
// answer through a callback are answered at once: several files as one answer with a line
// per path, a Yes as "yes".
class ScriptedDialogs : public Dialogs
{
public:
    QStringList answers;
    QList<DialogCall> calls;
    // When set, one-line questions stay open here until a test answers them, as a person
    // answers later.
    bool holdInputs = false;
    QList<TextEntered> heldInputs;

    void message(const QString& text) override
    {
        calls.append({QStringLiteral("message"), text, {}, {}});
    }
    void notice(const QString& text) override
    {
        calls.append({QStringLiteral("notice"), text, {}, {}});
    }
    void input(const QString& prompt, const QString& title, const QString& preset,
               TextEntered entered) override
    {
        calls.append({QStringLiteral("input"), prompt, title, preset});
        if (holdInputs)
            heldInputs.append(entered);
        else
            entered(nextAnswer());
    }
    void openFiles(const QString& title, const QString& filter, FilesChosen chosen) override
    {
        calls.append({QStringLiteral("openFiles"), {}, title, filter});
        const QString answer = nextAnswer();
        if (!answer.isEmpty())
            chosen(answer.split(QLatin1Char('\n')));
    }
    void chooseFolder(const QString& title, const QString& startFolder,
                      FolderChosen chosen) override
    {
        calls.append({QStringLiteral("chooseFolder"), {}, title, startFolder});
        const QString answer = nextAnswer();
        if (!answer.isEmpty())
            chosen(answer);
    }
    void ask(const QString& text, Answered answered) override
    {
        calls.append({QStringLiteral("ask"), text, {}, {}});
        answered(nextAnswer() == QLatin1String("yes"));
    }
    QString saveFile(const QString& title, const QString& presetName) override
    {
        calls.append({QStringLiteral("saveFile"), {}, title, presetName});
        return nextAnswer();
    }
    // Answered "match" or "differ"; anything else is not now.
    void compareCodes(const QString& text, const QString& code, Compared compared) override
    {
        calls.append({QStringLiteral("compareCodes"), text, code, {}});
        const QString answer = nextAnswer();
        compared(answer == QLatin1String("match")    ? Comparison::Match
                 : answer == QLatin1String("differ") ? Comparison::Differ
                                                     : Comparison::NotNow);
    }

private:
    QString nextAnswer() { return answers.isEmpty() ? QString() : answers.takeFirst(); }
};

// Records what the program asked the desktop to open, as "openFolder PATH" and so on.
class RecordingDesktop : public Desktop
{
public:
    QStringList calls;

    void openFolder(const QString& folder) override
    {
        calls.append(QStringLiteral("openFolder ") + folder);
    }
    void openFile(const QString& path) override
    {
        calls.append(QStringLiteral("openFile ") + path);
    }
    void showInFolder(const QString& path) override
    {
        calls.append(QStringLiteral("showInFolder ") + path);
    }
};

// Records what the program told its tray icon.
class RecordingTray : public Tray
{
public:
    struct Notification {
        QString title;
        QString text;
        QString filePath;
    };
    QString toolTip;
    QList<Notification> notifications;
    TrayActions actions;

    void setToolTip(const QString& text) override { toolTip = text; }
    void notify(const QString& title, const QString& text, const QString& filePath) override
    {
        notifications.append({title, text, filePath});
    }
};

// A whole platform for one window: scripted dialogs, a fixed clock, a settings file in a
// temporary folder of its own, and the real skinning component unless a test says
// otherwise.
class TestPlatform
{
public:
    TestPlatform() : settings_(std::make_unique<SettingsStore>(settingsPath())) {}

    QString settingsPath() const { return dir_.filePath(QStringLiteral("Quillo.conf")); }
    QString folder() const { return dir_.path(); }
    // Settings as a first start leaves them: files saved into this platform's folder, and
    // one person, peerName at peerAddress, in the address book.
    void startWith(const QString& peerName, const QHostAddress& peerAddress)
    {
        settings_->write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), folder() + '/');
        settings_->write(QStringLiteral("IPaddress0"), QStringLiteral("Name"), peerName);
        settings_->write(QStringLiteral("IPaddress0"), QStringLiteral("IPaddress"),
                         peerAddress.toString());
    }
    SettingsStore& settings() { return *settings_; }
    // Opens the settings file anew, as the next start of the program would.
    void reopenSettings() { settings_ = std::make_unique<SettingsStore>(settingsPath()); }

    QString dataFolder() const { return dir_.filePath(QStringLiteral("data")); }

    Platform platform()
    {
        return Platform{dialogs,
                        desktop,
                        *settings_,
                        clock,
                        random,
                        newSkin,
                        dataFolder(),
                        [this](const TrayActions& actions) {
                            auto made = std::make_unique<RecordingTray>();
                            made->actions = actions;
                            tray = made.get();
                            return made;
                        }};
    }

    ScriptedDialogs dialogs;
    RecordingDesktop desktop;
    FixedClock clock;
    ScriptedRandom random;
    // The tray of the last window made, once it has loaded.
    RecordingTray* tray = nullptr;
    std::function<std::unique_ptr<NonClientSkinInterface>()> newSkin = [] {
        return std::make_unique<NonClientSkin>();
    };

private:
    QTemporaryDir dir_;
    std::unique_ptr<SettingsStore> settings_;
};
