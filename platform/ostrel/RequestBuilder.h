// From a request record to the request the transport sends: every check that decides whether a
// record may go on the wire, with no session and no network involved. ZENTA_GeneralJsonRequest
// carries what this builds; the request fuzzer (tests/fuzz) drives it with arbitrary records.
#ifndef OSTREL_REQUESTBUILDER_H
#define OSTREL_REQUESTBUILDER_H

#include <cstddef>
#include <string>
#include <vector>

#include "Boundary.h"
#include "RequestRecords.h"

namespace ostrel {

// One request as Ostrel builds it from a record: the storage behind the ZENTA_HttpRequest that
// crosses into ZENTA. Header texts point into the record, which outlives the call.
struct HttpRequest {
  std::string method;
  std::string target;  // "/" + encoded path; the session puts its base path in front
  std::vector<ZENTA_HttpHeader> headers;
  const char* body = nullptr;  // not owned; bodyLength bytes, sent only when bodyLength > 0
  std::size_t bodyLength = 0;

  // The C view of this request, valid while this object is unchanged.
  ZENTA_HttpRequest View() const {
    return {method.data(),  method.size(),  target.data(), target.size(),
            headers.data(), headers.size(), body,          bodyLength};
  }
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
