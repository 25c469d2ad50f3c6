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

QString QtDialogs::openFile(const QString& title, const QString& filter)
{
    // Opens where the last choice was made, as the user left it.
    const QString chosen =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), title, lastChoice_, filter);
    if (!chosen.isEmpty())
        lastChoice_ = chosen;
    return chosen;
}

QString QtDialogs::saveFile(const QString& title, const QString& presetName)
{
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), title,
                                        QDir(firstRunFolder()).filePath(presetName));
}
