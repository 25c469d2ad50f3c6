#pragma once

// The receiving side of the rows that time its event loop, run in a process of its own:
//
//   bench_transfer --timed-receiver TURNFILE receive ARGUMENTS...
//
// runs `quillo receive ARGUMENTS...` (the command line's own code, as the quillo
// executable runs it, with the same standard output, errors and exit status) with a 1 ms
// heartbeat on its event loop, from the loop's first turn until it ends. TURNFILE then
// holds one line:
//
//   longest-turn-ms running-ms queued-ms heartbeat-ticks
//
// running-ms and queued-ms tell how much of the longest turn the thread spent on a CPU
// and waiting for one.
int runTimedReceiver(int argc, char* argv[]);
