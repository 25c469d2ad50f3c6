#include "cli/receiveends.h"

#include "cli/console.h"
#include "cli/outputlines.h"
#include "transfer/receiveend.h"

void printReceiveEnd(Console& console, const ReceiveEnd& end, bool stopping)
{
    if (end.outcome == ReceiveEnd::Outcome::Saved)
        console.printLine(receivedLine(end));
    else if (stopping)
        console.printProblem(QStringLiteral("stopped: ") + receiveProblem(end));
    else
        console.printProblem(receiveProblem(end));
}
