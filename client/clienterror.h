// What went wrong in a client request, in kinds that map to exit codes.
#ifndef ARVEX_CLIENT_CLIENTERROR_H
#define ARVEX_CLIENT_CLIENTERROR_H

#include <QString>

#include <cstdint>

enum class ClientErrorKind {
    None,
    TimedOut,     // no reply within the time-out
    ErrorResult,  // the server answered with a non-zero result code
    BadReply,     // a reply of the wrong size or layout
    Network,      // the socket could not be bound or the request not sent
    NotAllowed    // the address is outside what this run may send to
};

struct ClientError {
    ClientErrorKind kind = ClientErrorKind::None;
    QString message;
    uint8_t result = 0;  // the result code, for ErrorResult
};

#endif
