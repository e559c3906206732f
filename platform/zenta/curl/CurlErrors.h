// libcurl results: the ZENTA code each becomes, and the words the transport puts in front of
// libcurl's own where its code alone does not say what happened.
#ifndef ZENTA_CURL_CURLERRORS_H
#define ZENTA_CURL_CURLERRORS_H

#include <curl/curl.h>

#include <string>

#include "../Transport.h"
#include "CurlConnection.h"

namespace zenta {

// The one place where a libcurl result becomes a ZENTA code.
int CodeOf(CURLcode result);

// The code of a failed exchange, with libcurl's own words for it (errors, its error buffer) and
// the system's error in report.detail.
int Describe(CURL* easy, CURLcode result, const char* errors, ExchangeReport& report);

// The code and words of failures that libcurl reports in its own terms, told apart by its
// result, the system's error and how far the exchange got: a head line above libcurl's limit,
// malformed chunked coding, an unusable client certificate, a server's refusal of a client without
// a certificate, a proxy that failed. code is Describe's; returns the code to report.
int NameFailure(const CurlConnection& connection, const TransportConfig& config, CURLcode result,
                int code, Detail& detail);

// A proxy URL for a detail: credentials in it (user:password@) are shown as ***.
std::string Masked(std::string url);

// Whether libcurl can parse url as a proxy's URL; why, when not, in libcurl's words (which do not
// quote the URL).
bool ProxyUrlIsValid(const std::string& url, std::string& why);

// With the session's trace verbose (3), makes libcurl tell how each exchange goes
// (CurlVerbose.cpp): its own account, the request head with every header value as ***, the status
// line and header names of the answer, each line scrubbed and traced. Nothing otherwise.
CURLcode SetVerbose(CURL* easy, const TransportConfig& config);

}  // namespace zenta

#endif  // ZENTA_CURL_CURLERRORS_H
