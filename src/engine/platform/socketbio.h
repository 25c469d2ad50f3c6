#pragma once

typedef struct bio_st BIO;

// OpenSSL's end of a connected, non-blocking TCP socket, as its own socket BIO is but for
// one thing: a write to a connection the peer has reset fails with EPIPE rather than
// raising SIGPIPE, which would end the program. The descriptor stays open when it goes.
BIO* newSocketBio(int descriptor);
