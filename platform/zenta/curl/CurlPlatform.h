// What differs between the platforms under the libcurl transport: waiting on sockets (poll on
// Linux, WSAPoll on Windows), closing them, the system's words for an error number, the TLS
// options of the platform's TLS library (OpenSSL on Linux, Schannel on Windows) and the proxy a
// session takes when it names none. Everything else of the transport is the same code on both.
#ifndef ZENTA_CURL_CURLPLATFORM_H
#define ZENTA_CURL_CURLPLATFORM_H

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include <curl/curl.h>

#include <string>

#include "../ErrorDetail.h"
#include "../Transport.h"

namespace zenta {

#ifdef _WIN32
using PollEntry = WSAPOLLFD;
#else
using PollEntry = pollfd;
#endif

// Waits at most timeoutMs for the entries' events, as poll() does: the number of entries with
// events, 0 when none came in time (an interrupted wait included), -1 on failure.
int PollSockets(PollEntry* entries, int count, int timeoutMs);

// Closes a socket libcurl opened (CURLOPT_CLOSESOCKETFUNCTION); 0 on success.
int CloseSocket(curl_socket_t socket);

// The system's words for an error number libcurl reports (CURLINFO_OS_ERRNO: errno on Linux,
// a Winsock or system error on Windows).
std::string SystemErrorText(long error);

// Checks the session's certificate options against what the platform's TLS library takes, before
// the session opens: ZENTA_OK, or ZENTA_E_BAD_OPTION with detail naming the option and why.
int CheckTlsOptions(const TransportConfig& config, Detail& detail);

// Why libcurl could not use the session's client certificate and key, when the platform's TLS
// library can tell: the key is encrypted and no password was given, the password does not
// decrypt it, the key is not the certificate's. "" when it cannot tell (on Windows, always).
std::string ClientKeyProblem(const TransportConfig& config);

// Sets the TLS options of the platform on an easy handle for an https session: the client
// certificate in the platform's forms, revocation checking (Windows), and on Linux the hook that
// sets *certificateAsked when a server asks for a client certificate.
CURLcode SetTlsOptions(CURL* easy, const TransportConfig& config, bool* certificateAsked);

// The proxy of the system for the session's server when the session names none: on Windows the
// user's proxy settings (looked up once per session, within a bounded time), "" when they send
// the server's requests direct; on Linux libcurl reads the environment itself, so proxySet stays
// false. Sets proxySet and proxy in config when the system names one or none.
void FindSystemProxy(TransportConfig& config);

}  // namespace zenta

#endif  // ZENTA_CURL_CURLPLATFORM_H
