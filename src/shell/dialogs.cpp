#include "shell/dialogs.h"

#include "shell/savefolder.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace
{
const QString kApplicationTitle = QStringLiteral("Quillo");
}

void QtDialogs::message(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void QtDialogs::notice(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok,
                                QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString QtDialogs::input(const QString& prompt, const QString& title, const QString& preset)
{
    bool accepted = false;
    const QString text = QInputDialog::getText(QApplication::activeWindow(), title, prompt,
                                               QLineEdit::Normal, preset, &accepted);
    return accepted ? text : QString();
}

void QtDialogs::openFiles(const QString& title, const QString& filter, FilesChosen chosen)
{
    // Opens where the last choice was made, as the user left it.
    auto* dialog = new QFileDialog(QApplication::activeWindow(), title, lastFolder_, filter);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    QObject::connect(dialog, &QFileDialog::filesSelected, dialog,
                     [this, dialog, chosen](const QStringList& paths) {
                         lastFolder_ = dialog->directory().absolutePath();
                         chosen(paths);
                     });
    dialog->open();
}

void QtDialogs::chooseFolder(const QString& title, const QString& startFolder, FolderChosen chosen)
{
    auto* dialog = new QFileDialog(QApplication::activeWindow(), title, startFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, chosen);
    dialog->open();
}

void QtDialogs::ask(const QString& text, Answered answered)
{
    auto* box = new QMessageBox(QMessageBox::Question, kApplicationTitle, text,
                                QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::No);
    QObject::connect(box, &QMessageBox::finished, box, [box, answered] {
        answered(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    box->open();
}

QString QtDialogs::saveFile(const QString& title, const QString& presetName)
{
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), title,
                                        QDir(firstRunFolder()).filePath(presetName));
}
