#include "transfer/outgoingfile.h"

#include "transfer/readerror.h"

OutgoingFile::OutgoingFile(QObject* parent) : QObject(parent)
{
    connect(&digest_, &FileDigest::finished, this, &OutgoingFile::digested);
    connect(&digest_, &FileDigest::failed, this, &OutgoingFile::readBackFailed);
}

bool OutgoingFile::open(const QString& path, qint64 size, qint64 offset,
                        std::optional<Checksum::Kind> digested)
{
    close();
    size_ = size;
    sent_ = offset;
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly) || !file_.seek(offset)) {
        error_ = file_.errorString();
        return false;
    }
    digesting_ = digested.has_value();
    if (digesting_)
        digest_.start(path, offset, *digested);
    return true;
}

QByteArray OutgoingFile::next()
{
    const qint64 block = std::min(kBlockBytes, size_ - sent_);
    QByteArray bytes = file_.read(block);
    if (bytes.size() != block) {
        error_ = shortReadText(file_);
        return {};
    }
    if (digesting_)
        digest_.add(bytes);
    sent_ += block;
    return bytes;
}

void OutgoingFile::finish()
{
    file_.close();
    if (digesting_)
        digest_.finish();
}

void OutgoingFile::close()
{
    file_.close();
    digest_.stop();
    digesting_ = false;
}
