#pragma once

#include "window/codecomparison.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

// The modal questions the program puts to the user. Everything else talks to this
// interface only, so that tests can answer from a script instead of a person.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // The program's window: every dialog from now on is shown over it, whatever other
    // dialog is open at the time, so that none goes away with another.
    virtual void showOver(QWidget* window) { (void)window; }

    // A message with an OK button, under the application's title. It waits for the OK,
    // so only start-up uses it, before anything else runs.
    virtual void message(const QString& text) = 0;
    // The same message, shown without waiting: the caller goes on at once. Everything that
    // runs once the program is up uses this one.
    virtual void notice(const QString& text) = 0;
    // Questions that do not wait: the answer comes later, to the callback. Whoever asks
    // must be ready to be gone by then, or to be answered at once.
    using TextEntered = std::function<void(const QString& text)>;
    using FilesChosen = std::function<void(const QStringList& paths)>;
    using FolderChosen = std::function<void(const QString& folder)>;
    using Answered = std::function<void(bool yes)>;
    // A one-line question, starting with preset. Once it is closed, entered gets what was
    // typed, or the empty text on Cancel.
    virtual void input(const QString& prompt, const QString& title, const QString& preset,
                       TextEntered entered) = 0;
    // Files to open, one or several, as full paths in the order the dialog gives them. A
    // cancelled dialog calls nothing, nor does the folder dialog.
    virtual void openFiles(const QString& title, const QString& filter, FilesChosen chosen) = 0;
    // A folder, starting from startFolder.
    virtual void chooseFolder(const QString& title, const QString& startFolder,
                              FolderChosen chosen) = 0;
    // A question with Yes and No; a closed box is a No.
    virtual void ask(const QString& text, Answered answered) = 0;
    // Returns the chosen full path, or the empty text on Cancel. The dialog starts in the
    // user's Downloads folder with presetName filled in.
    virtual QString saveFile(const QString& title, const QString& presetName) = 0;
    // The code two people compare (see newCodeComparison()); compared gets their answer.
    // Dialogs that show no codes (a benchmark's, a screenshot's) answer not now.
    using Compared = std::function<void(Comparison answer)>;
    virtual void compareCodes(const QString& text, const QString& code, Compared compared)
    {
        (void)text;
        (void)code;
        compared(Comparison::NotNow);
    }
};

// The real dialogs, shown over the program's window, or over the active window until
// there is one. Texts are shown as they are, never as markup.
class QtDialogs : public Dialogs
{
public:
    void showOver(QWidget* window) override { window_ = window; }
    void message(const QString& text) override;
    void notice(const QString& text) override;
    void input(const QString& prompt, const QString& title, const QString& preset,
               TextEntered entered) override;
    void openFiles(const QString& title, const QString& filter, FilesChosen chosen) override;
    void chooseFolder(const QString& title, const QString& startFolder,
                      FolderChosen chosen) override;
    void ask(const QString& text, Answered answered) override;
    QString saveFile(const QString& title, const QString& presetName) override;
    void compareCodes(const QString& text, const QString& code, Compared compared) override;

private:
    QWidget* parentWindow() const;

    QPointer<QWidget> window_;
    QString lastFolder_;
};
