#pragma once

#include <QFile>
#include <QSet>
#include <QString>

// The file being received. It is written as "<name>.part" and takes its final name only
// once it is whole, so a file under its final name is always complete. Neither name may
// exist before: nothing in the save folder is ever replaced, and a link planted under
// either name is never followed. The one exception is a part file that this receiver
// left behind itself, from a transfer of the same name that broke off: a sender trying
// again takes it over, instead of leaving one more part file each time.
class ReceiveFile
{
public:
    // Creates the part file for a received name in folder, or takes over one of the
    // leftovers (full paths of part files this receiver made and no transfer writes now),
    // removing it from them. Returns false when it could not be created; error() then
    // says why.
    bool create(const QString& folder, const QString& name, QSet<QString>* leftovers = nullptr);
    // The name the file will have once whole.
    const QString& finalName() const { return finalName_; }

    // Returns false when not every byte could be written; error() then says why.
    bool write(const QByteArray& bytes);
    // Closes the file. A complete file takes its final name; one that is not stays a
    // part file. Returns false when the rename failed.
    bool close(bool complete);
    // Closes the file and removes it, giving its space back.
    void discard();

    bool isOpen() const { return part_.isOpen(); }
    // Where the bytes are: the final path once whole and named, the part file before.
    QString path() const;

    const QString& error() const { return error_; }

private:
    QFile part_;
    QString folder_;
    QString finalName_;
    QString error_;
    bool named_ = false;
};
