#pragma once

// The window as a receiver, for row 16, in a process of its own:
//
//   bench_transfer --window-receiver FOLDER BIND PEER
//
// A window bound to BIND, with its settings, its key and its save folder (FOLDER/in) in
// FOLDER and PEER as the one entry of its address book, receives whatever comes, with a
// heartbeat in its event loop, until it is told to stop (SIGTERM). One line on standard
// output then tells how its loop kept up:
//
//   longest-turn-ms running-ms queued-ms stopped-ms heartbeat-ticks
//
// as the timed receiver's turn file does (see timedreceiver.h).
int runWindowReceiver(int argc, char* argv[]);
