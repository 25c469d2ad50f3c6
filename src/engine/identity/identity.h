#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <optional>

// This installation's key pair and certificate, which it shows on the private port. They
// are kept together in one file in the data folder, readable by the user alone; a file
// that others may read is refused, as its key could be someone else's too.
class Identity
{
public:
    static const QString kFileName;

    // Reads the identity in folder, making it first when there is none (two copies
    // starting at once make one between them). Nothing when it cannot be read or made,
    // when it is another user's or others may read it, or when its key is not its
    // certificate's; error then says why, for the user.
    static std::optional<Identity> open(const QString& folder, QString* error);

    const QSslKey& privateKey() const { return privateKey_; }
    const QSslCertificate& certificate() const { return certificate_; }
    // The SHA-256 of the public key: what peers keep in their address books.
    const QByteArray& key() const { return key_; }
    QString safetyCode() const;

private:
    QSslKey privateKey_;
    QSslCertificate certificate_;
    QByteArray key_;
};
