#pragma once

#include "transfer/fileadmission.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

// Where one connection's files go when their paths have several parts. The first file
// under a top folder "Trip" makes "Trip" in the save folder, or the first free "Trip (1)",
// "Trip (2)"... when the name is taken, so that nothing is ever merged into; the later
// files of the connection under "Trip" go into that same folder.
class ReceivedTree
{
public:
    // Where a file goes.
    struct Place {
        QString folder; // the folder the file is made in
        QString top;    // the top folder as saved, full path; empty for a loose file
        QString inside; // the folders from the save folder down, "Trip (1)/day 1/"
        QByteArray name;
    };

    explicit ReceivedTree(const QString& saveFolder) : saveFolder_(saveFolder) {}

    // Checks path and makes its folders; a path of one part is a loose file, its name
    // checked when the file is made. Nothing when place was filled in.
    std::optional<FileRefusal> place(const QByteArray& path, Place& place);

    // A connection that continues partPath, a part file left for path, goes on in the top
    // folder the part file is in, when path has one and no file of the connection has
    // placed that top folder yet.
    void continueIn(const QByteArray& path, const QString& partPath);

private:
    // The name the top folder announced is saved under, made the first time; nothing,
    // with topError_ saying why, when it could not be made.
    std::optional<QString> savedTop(const QString& announced);

    QString saveFolder_;
    QString topError_;
    QHash<QString, QString> tops_; // the announced top folder's name: the name it was saved under
};
