#include "localsend/httpanswer.h"

namespace
{

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Internal Server Error";
    }
}

} // namespace

QByteArray httpAnswer(int status, const QByteArray& document, bool keepAlive)
{
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                        "\r\nContent-Length: " + QByteArray::number(document.size()) + "\r\n";
    if (!document.isEmpty())
        answer += "Content-Type: application/json\r\n";
    answer += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    return answer + document;
}
