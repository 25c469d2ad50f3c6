#include "secure/privateidentity.h"

#include "secure/tlsconfiguration.h"

std::variant<Identity, QString> openPrivateIdentity(const QString& folder)
{
    if (const std::optional<QString> problem = tlsUnavailable())
        return *problem;
    QString error;
    std::optional<Identity> identity = Identity::open(folder, &error);
    if (identity && !privateTlsContext(*identity, &error))
        return QStringLiteral(
                   "Private transfers are off: this installation's key cannot be used (%1), so "
                   "Quillo sends and receives in the clear only")
            .arg(error);
    if (identity)
        return std::move(*identity);
    return error + QStringLiteral(". Until then, Quillo sends and receives in the clear only");
}
