#pragma once

class Console;
struct ReceiveEnd;

// Tells how one connection to the receiver ended: the received line on standard output
// for a file saved whole, otherwise the problem on standard error ("stopped: " first
// when the command was stopping).
void printReceiveEnd(Console& console, const ReceiveEnd& end, bool stopping);
