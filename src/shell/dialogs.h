#pragma once

#include <QString>

// The modal questions the program puts to the user. Everything else talks to this
// interface only, so that tests can answer from a script instead of a person.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A message with an OK button, under the application's title. It waits for the OK,
    // so only start-up uses it, before anything else runs.
    virtual void message(const QString& text) = 0;
    // The same message, shown without waiting: the caller goes on at once. Everything that
    // runs once the program is up uses this one.
    virtual void notice(const QString& text) = 0;
    // A one-line question. Returns what was typed, or the empty text on Cancel.
    virtual QString input(const QString& prompt, const QString& title, const QString& preset) = 0;
    // Returns the chosen full path, or the empty text on Cancel.
    virtual QString openFile(const QString& title, const QString& filter) = 0;
    // Returns the chosen full path, or the empty text on Cancel. The dialog starts in the
    // user's Downloads folder with presetName filled in.
    virtual QString saveFile(const QString& title, const QString& presetName) = 0;
};

// The real dialogs, shown over the active window.
class QtDialogs : public Dialogs
{
public:
    void message(const QString& text) override;
    void notice(const QString& text) override;
    QString input(const QString& prompt, const QString& title, const QString& preset) override;
    QString openFile(const QString& title, const QString& filter) override;
    QString saveFile(const QString& title, const QString& presetName) override;

private:
    QString lastChoice_;
};
