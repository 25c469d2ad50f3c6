#pragma once

// Transfers pass blocks of a few hundred KiB from the file to the socket, again and again.
// Left to itself, the C library takes each such block as fresh pages from the system and
// gives them back at once, and the system clears every page anew: for a private transfer
// that was a third of the sender's time. Called once at the start, this keeps blocks of
// up to 8 MiB in the heap, and lets the heap keep up to 32 MiB it no longer uses.
void keepLargeBlocksInHeap();

// Gives the system back every page of the heap that holds nothing any more. Connections
// that come and go leave their freed memory scattered between the blocks still in use,
// where the heap would keep it for good: after a flood of them, a receiver calls this
// once they are gone.
void returnFreeHeap();
