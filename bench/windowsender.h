#pragma once

// The window's row of the benchmark, run in a process of its own so that the peak
// memory measured is the window's alone:
//
//   bench_transfer --window-sender FILE PEER BIND FOLDER
//
// A window bound to BIND, with its settings and save folder in FOLDER and PEER as the one
// entry of its address book, queues FILE through its own dialogs and sends it. One line
// on standard output then tells how it went:
//
//   seconds longest-turn-ms running-ms queued-ms heartbeat-ticks memory-before-KiB sent(1|0)
//
// running-ms and queued-ms tell how much of the longest turn the thread spent on a CPU
// and waiting for one.
int runWindowSender(int argc, char* argv[]);
