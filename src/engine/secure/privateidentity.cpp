#include "secure/privateidentity.h"

#include "secure/tlsconfiguration.h"

std::variant<Identity, QString> openPrivateIdentity(const QString& folder)
{
    if (const std::optional<QString> problem = tlsUnavailable())
        return *problem;
    QString error;
    if (std::optional<Identity> identity = Identity::open(folder, &error))
        return std::move(*identity);
    return error + QStringLiteral(". Until then, Quillo sends and receives in the clear only");
}
