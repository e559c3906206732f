// libcurl results: the ZENTA code each becomes.
#ifndef ZENTA_CURL_CURLERRORS_H
#define ZENTA_CURL_CURLERRORS_H

#include <curl/curl.h>

#include "../Transport.h"

namespace zenta {

// The one place where a libcurl result becomes a ZENTA code.
int CodeOf(CURLcode result);

// The code of a failed exchange, with libcurl's own words for it (errors, its error buffer) and
// the system's error in report.detail.
int Describe(CURL* easy, CURLcode result, const char* errors, ExchangeReport& report);

}  // namespace zenta

#endif  // ZENTA_CURL_CURLERRORS_H
