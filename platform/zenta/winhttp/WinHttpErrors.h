// WinHTTP errors: the ZENTA code each becomes, and the words and phase its detail gives.
#ifndef ZENTA_WINHTTP_WINHTTPERRORS_H
#define ZENTA_WINHTTP_WINHTTPERRORS_H

// The socket headers come first: windows.h would otherwise bring the old winsock.h.
#include <winsock2.h>
// A block of its own, so that sorting the includes keeps it after the socket headers.
#include <windows.h>

namespace zenta {

// Where an exchange was when WinHTTP failed: a dropped connection means a failed send before
// the answer is awaited, a failed receive afterwards.
enum class Phase { kSetup, kSend, kReceive };

// The one place where a WinHTTP error becomes a ZENTA code.
int CodeOf(DWORD error, Phase phase);

// The phase a failure is reported in ("resolve", "connect", "TLS", "send", "receive", "setup"):
// WinHttpSendRequest resolves, connects, shakes hands and sends, and its error tells which failed.
const char* PhaseName(DWORD error, Phase phase);

// What a WinHTTP error means, in words a reader of a log understands; verifying tells whether the
// server's certificate was being verified.
const char* Meaning(DWORD error, bool verifying);

}  // namespace zenta

#endif  // ZENTA_WINHTTP_WINHTTPERRORS_H
