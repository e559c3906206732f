// From a request record to the request the transport sends: every check that decides whether a
// record may go on the wire, with no session and no network involved. ZENTA_GeneralJsonRequest
// carries what this builds; the request fuzzer (tests/fuzz) drives it with arbitrary records.
#ifndef OSTREL_REQUESTBUILDER_H
#define OSTREL_REQUESTBUILDER_H

#include "RequestRecords.h"
#include "ZentaInternal.h"

namespace ostrel {

// Reads record into request. Returns ZENTA_OK with request filled: the method an HTTP token, the
// headers in record order with token names and values free of CR, LF and other control bytes
// (tab allowed), the target "/" + the encoded path, body pointing at record.body. Otherwise
// returns ZENTA_E_BAD_RECORD, ZENTA_E_BAD_METHOD or ZENTA_E_BAD_HEADER and request is to be
// dropped. Reads each field only within its width, headerCount items from record.headers and
// never a byte of the body. May throw std::bad_alloc.
int BuildHttpRequest(const RestRequest& record, zenta::HttpRequest& request);

}  // namespace ostrel

#endif  // OSTREL_REQUESTBUILDER_H
