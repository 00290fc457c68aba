#pragma once

#include <string>

// Network failures travel as the WinSock numbers users and callers know (10000 and up,
// 11001 to 11004 for name service); native errors are mapped onto them here, in one place.

// The numbers the code itself uses, by name.
enum TWinsockError : int {
    wsaInterrupted = 10004, // also: the connection closed while a request waited
    wsaInvalidArgument = 10022,
    wsaWouldBlock = 10035,
    wsaInProgress = 10036,
    wsaNotSocket = 10038,
    wsaAddrNotAvail = 10049,
    wsaNetUnreachable = 10051,
    wsaConnectionAborted = 10053,
    wsaConnectionReset = 10054,
    wsaNotConnected = 10057,
    wsaTimedOut = 10060,
    wsaConnectionRefused = 10061,
    wsaHostUnreachable = 10065,
    wsaHostNotFound = 11001,
    wsaTryAgain = 11002,
    wsaNoData = 11004,
};

// The text shown for a network error code; "Not a WinSock error" for unknown codes.
std::string WinsockErrorDesc(int ErrCode);

// What a network error means to a user, in a few plain words ("connection refused", "host
// not found"), shown beside the number where the user reads it; empty for the codes that
// have none. The log keeps the number and WinsockErrorDesc's text.
std::string PlainReason(int code);

// The WinSock number for an errno value (EAGAIN -> 10035, ECONNREFUSED -> 10061, ...).
int WinsockErrorFromErrno(int err);

// The same for the errno the last failed system call left.
int LastNetError();
