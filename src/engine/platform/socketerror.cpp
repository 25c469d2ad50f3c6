#include "platform/socketerror.h"

namespace
{

constexpr int kUnknown = 10000;
constexpr int kAccessDenied = 10013;
constexpr int kInvalidArgument = 10022;
constexpr int kOperationNotSupported = 10045;
constexpr int kAddressInUse = 10048;
constexpr int kAddressNotAvailable = 10049;
constexpr int kNetworkUnreachable = 10051;
constexpr int kConnectionReset = 10054;
constexpr int kNoBufferSpace = 10055;
constexpr int kTimedOut = 10060;
constexpr int kConnectionRefused = 10061;
constexpr int kHostUnreachable = 10065;
constexpr int kHostNotFound = 11001;

int networkErrorNumber(const QString& errorString)
{
    // Qt's own wording for EHOSTUNREACH; everything else it reports as a network error.
    if (errorString.contains(QLatin1String("host unreachable"), Qt::CaseInsensitive))
        return kHostUnreachable;
    return kNetworkUnreachable;
}

} // namespace

SocketError socketError(QAbstractSocket::SocketError error, const QString& errorString)
{
    int number = kUnknown;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        number = kConnectionRefused;
        break;
    case QAbstractSocket::RemoteHostClosedError:
        number = kConnectionReset;
        break;
    case QAbstractSocket::HostNotFoundError:
        number = kHostNotFound;
        break;
    case QAbstractSocket::SocketAccessError:
        number = kAccessDenied;
        break;
    case QAbstractSocket::SocketResourceError:
        number = kNoBufferSpace;
        break;
    case QAbstractSocket::SocketTimeoutError:
        number = kTimedOut;
        break;
    case QAbstractSocket::NetworkError:
        number = networkErrorNumber(errorString);
        break;
    case QAbstractSocket::AddressInUseError:
        number = kAddressInUse;
        break;
    case QAbstractSocket::SocketAddressNotAvailableError:
        number = kAddressNotAvailable;
        break;
    case QAbstractSocket::UnsupportedSocketOperationError:
        number = kOperationNotSupported;
        break;
    case QAbstractSocket::OperationError:
        number = kInvalidArgument;
        break;
    default:
        break;
    }
    return {number, errorString};
}
