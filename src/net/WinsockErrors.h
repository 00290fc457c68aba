#pragma once

#include <string>

// Network failures travel as the WinSock numbers users and callers know (10000 and up,
// 11001 to 11004 for name service); native errors are mapped onto them here, in one place.

// The text shown for a network error code; "Not a WinSock error" for unknown codes.
std::string WinsockErrorDesc(int ErrCode);

// The WinSock number for an errno value (EAGAIN -> 10035, ECONNREFUSED -> 10061, ...).
int WinsockErrorFromErrno(int err);

// The same for the errno the last failed system call left.
int LastNetError();
