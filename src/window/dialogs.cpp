#include "window/dialogs.h"

#include "window/savefolder.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>

#include <memory>

namespace
{

const QString kApplicationTitle = QStringLiteral("Quillo");

QMessageBox* newBox(QMessageBox::Icon icon, const QString& text,
                    QMessageBox::StandardButtons buttons, QWidget* parent)
{
    auto* box = new QMessageBox(icon, kApplicationTitle, text, buttons, parent);
    box->setTextFormat(Qt::PlainText);
    return box;
}

} // namespace

QWidget* QtDialogs::parentWindow() const
{
    return window_ ? window_.data() : QApplication::activeWindow();
}

void QtDialogs::message(const QString& text)
{
    std::unique_ptr<QMessageBox> box(
        newBox(QMessageBox::NoIcon, text, QMessageBox::Ok, parentWindow()));
    box->exec();
}

void QtDialogs::notice(const QString& text)
{
    QMessageBox* box = newBox(QMessageBox::NoIcon, text, QMessageBox::Ok, parentWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void QtDialogs::input(const QString& prompt, const QString& title, const QString& preset,
                      TextEntered entered)
{
    auto* dialog = new QInputDialog(parentWindow());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(title);
    dialog->setLabelText(prompt);
    // The prompt holds names as typed; they are shown as they are, never as markup.
    if (auto* label = dialog->findChild<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    dialog->setTextValue(preset);
    QObject::connect(dialog, &QInputDialog::finished, dialog, [dialog, entered](int result) {
        entered(result == QDialog::Accepted ? dialog->textValue() : QString());
    });
    dialog->open();
}

void QtDialogs::openFiles(const QString& title, const QString& filter, FilesChosen chosen)
{
    // Opens where the last choice was made, as the user left it.
    auto* dialog = new QFileDialog(parentWindow(), title, lastFolder_, filter);
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
    auto* dialog = new QFileDialog(parentWindow(), title, startFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, chosen);
    dialog->open();
}

void QtDialogs::ask(const QString& text, Answered answered)
{
    QMessageBox* box =
        newBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, parentWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::No);
    QObject::connect(box, &QMessageBox::finished, box, [box, answered] {
        answered(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    box->open();
}

void QtDialogs::compareCodes(const QString& text, const QString& code, Compared compared)
{
    QDialog* dialog = newCodeComparison(text, code, parentWindow());
    QObject::connect(dialog, &QDialog::finished, dialog,
                     [compared](int answer) { compared(Comparison(answer)); });
    dialog->open();
}

QString QtDialogs::saveFile(const QString& title, const QString& presetName)
{
    return QFileDialog::getSaveFileName(parentWindow(), title,
                                        QDir(firstRunFolder()).filePath(presetName));
}
