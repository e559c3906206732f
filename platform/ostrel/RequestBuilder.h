// From a request record to the request the transport sends: every check that decides whether a
// record may go on the wire, with no session and no network involved. ZENTA_GeneralJsonRequest
// carries what this builds; the gateway's tests (tests/gateway) check what it refuses and how it
// encodes.
#ifndef OSTREL_REQUESTBUILDER_H
#define OSTREL_REQUESTBUILDER_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "Boundary.h"
#include "RequestRecords.h"

namespace ostrel {

// One request as Ostrel builds it from a record: the storage behind the ZENTA_HttpRequest that
// crosses into ZENTA. Header texts point into the record, which outlives the call. The target
// and the headers of an ordinary request are held in the object itself, so building a request
// takes no allocation; more than kInlineHeaders headers go to the heap.
struct HttpRequest {
  static constexpr std::size_t kInlineHeaders = 8;
  static constexpr std::size_t kLongestTarget = 1 + 3 * kPathWidth;  // "/" and every byte escaped

  std::string_view method;      // in the record, at most kMethodWidth bytes
  char target[kLongestTarget];  // "/" + encoded path; the session puts its base path in front
  std::size_t targetLength = 0;
  ZENTA_HttpHeader* headers = inlineHeaders;
  std::size_t headerCount = 0;
  const char* body = nullptr;  // not owned; bodyLength bytes, sent only when bodyLength > 0
  std::size_t bodyLength = 0;

  HttpRequest() = default;
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Room for count headers, at headers.
  void ReserveHeaders(std::size_t count) {
    if (count <= kInlineHeaders) return;
    moreHeaders.resize(count);
    headers = moreHeaders.data();
  }

  // The C view of this request, valid while this object is unchanged.
  ZENTA_HttpRequest View() const {
    return {method.data(), method.size(), target, targetLength,
            headers,       headerCount,   body,   bodyLength};
  }

 private:
  ZENTA_HttpHeader inlineHeaders[kInlineHeaders];
  std::vector<ZENTA_HttpHeader> moreHeaders;
};

// Reads record into request. Returns ZENTA_OK with request filled: the method an HTTP token, the
// headers in record order with token names and values free of CR, LF and other control bytes
// (tab allowed), the target "/" + the encoded path, body pointing at record.body. Otherwise
// returns ZENTA_E_BAD_RECORD, ZENTA_E_BAD_METHOD or ZENTA_E_BAD_HEADER and request is to be
// dropped. Reads each field only within its width, headerCount items from record.headers and
// never a byte of the body. May throw std::bad_alloc.
int BuildHttpRequest(const RestRequest& record, HttpRequest& request);

}  // namespace ostrel

#endif  // OSTREL_REQUESTBUILDER_H
