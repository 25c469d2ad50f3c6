#pragma once

// How the transfer of one file ended.
enum class SendOutcome {
    Sent,       // the receiver counted every byte
    PeerClosed, // the receiver closed the connection first
    NotSent,    // the file could not be read, the receiver refused it or fell silent
    Failed,     // a socket error, a refused connection among them
};
