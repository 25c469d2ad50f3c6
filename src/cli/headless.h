#pragma once

// The command line: parses the arguments and runs the subcommand they name, without a
// display. Returns the exit status.
int runHeadless(int argc, char* argv[]);
