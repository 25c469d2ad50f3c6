#include "identity/identity.h"

#include "platform/durablewrite.h"

#include "identity/certificatekey.h"
#include "identity/keymaker.h"
#include "identity/safetycode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const QString Identity::kFileName = QStringLiteral("identity.pem");

namespace
{

// An identity file is a key and a certificate in PEM: a few hundred bytes.
constexpr qint64 kMaxFileBytes = 64 * 1024;
constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Writes pem under a name of its own, readable by the user alone, then gives it the
// identity's name unless another copy of the program got there first.
bool create(const QString& folder, const QString& path, QString* error)
{
    const std::optional<QByteArray> pem = makeIdentityPem(error);
    if (!pem)
        return false;
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data()); // made with mode 0600
    bool ok = fd >= 0 && writeAll(fd, *pem) == 0 && ::fsync(fd) == 0;
    if (!ok && error)
        *error = QStringLiteral("Cannot write %1: %2").arg(path, systemError());
    if (fd >= 0)
        ::close(fd);
    if (ok && ::link(temporary.constData(), QFile::encodeName(path).constData()) != 0 &&
        errno != EEXIST) {
        ok = false;
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, systemError());
    }
    if (fd >= 0)
        ::unlink(temporary.constData());
    syncFolder(folder);
    return ok;
}

QString notAFile(const QString& path)
{
    return QStringLiteral("Quillo's private key %1 is not a file of its own (a link, a pipe or "
                          "a device stands there), so it is not used. Move it away, and Quillo "
                          "makes a new one (your friends then see a new key)")
        .arg(path);
}

std::optional<QByteArray> readPrivately(const QString& path, QString* error)
{
    // Never through a link, and without waiting on a pipe put in the file's place.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status = {};
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        *error = (fd < 0 && errno == ELOOP) || (fd >= 0 && !S_ISREG(status.st_mode))
                     ? notAFile(path)
                     : QStringLiteral("Cannot read %1: %2").arg(path, systemError());
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    if (status.st_uid != ::geteuid()) {
        ::close(fd);
        *error = QStringLiteral("Quillo's private key %1 belongs to another user (uid %2), so it "
                                "is not used: Quillo uses only its own key")
                     .arg(path)
                     .arg(status.st_uid);
        return std::nullopt;
    }
    if ((status.st_mode & kOthersBits) != 0) {
        ::close(fd);
        *error = QStringLiteral("Quillo's private key %1 may be read by others (its mode is "
                                "%2), so it is not used. Make it yours alone with: chmod 600 %1")
                     .arg(path)
                     .arg(status.st_mode & 0777, 4, 8, QLatin1Char('0'));
        return std::nullopt;
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    return file.read(kMaxFileBytes);
}

} // namespace

std::optional<Identity> Identity::open(const QString& folder, QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    const QString path = QDir(folder).filePath(kFileName);
    if (!QFileInfo::exists(path) && (!QDir().mkpath(folder) || !create(folder, path, error)))
        return std::nullopt;
    const std::optional<QByteArray> pem = readPrivately(path, error);
    if (!pem)
        return std::nullopt;
    Identity identity;
    identity.privateKey_ = QSslKey(*pem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(*pem, QSsl::Pem);
    if (identity.privateKey_.isNull() || certificates.isEmpty()) {
        *error = QStringLiteral("%1 holds no usable key and certificate. Move it away, and "
                                "Quillo makes a new one (your friends then see a new key)")
                     .arg(path);
        return std::nullopt;
    }
    identity.certificate_ = certificates.first();
    // A key that is not the certificate's would have every handshake fail, later and
    // with no word of why.
    if (publicKeyDer(identity.privateKey_.toPem()) != identity.certificate_.publicKey().toDer()) {
        *error = QStringLiteral("%1 holds a private key that does not belong to its certificate, "
                                "so no private connection can be made with it. Move it away, and "
                                "Quillo makes a new one (your friends then see a new key)")
                     .arg(path);
        return std::nullopt;
    }
    const std::variant<QByteArray, QString> key = certificateKey(identity.certificate_.toDer());
    if (const QString* problem = std::get_if<QString>(&key)) {
        *error = QStringLiteral("%1 cannot be used, as %2. Move it away, and Quillo makes a new "
                                "one (your friends then see a new key)")
                     .arg(path, *problem);
        return std::nullopt;
    }
    identity.key_ = std::get<QByteArray>(key);
    return identity;
}

QString Identity::safetyCode() const
{
    return ::safetyCode(key_);
}
