#pragma once

#include "transfer/filerefusal.h"
#include "transfer/receivedtree.h"

#include <QByteArray>
#include <QString>

#include <optional>

class PartFiles;
class ReceiveFile;
struct PartSender;

// Takes the file that sender offered as offered, of size bytes, to be saved where tree
// placed it: checks the name, the save folder and the room for strangers' files, and only
// then makes the folders it needs and its part file in file. Nothing when it was taken; a
// file refused leaves no folder behind.
std::optional<FileRefusal> admitFile(ReceiveFile& file, ReceivedTree& tree,
                                     const ReceivedTree::Place& place, PartFiles& parts,
                                     const PartSender& sender, const QByteArray& offered,
                                     qint64 size);
