// ZENTA's side of the C boundary with Ostrel (Boundary.h): a checked request in, an answer out,
// and no exception or C++ object across.
#include "Boundary.h"

#include <new>

#include "ErrorDetail.h"
#include "SessionTable.h"

extern "C" ZENTA_API int ZENTA_CarryRequest(int handle, const ZENTA_HttpRequest* request,
                                            ZENTA_HttpAnswer* answer) {
  answer->status = 0;
  answer->contentTypeLength = 0;
  answer->body = nullptr;
  answer->bodyLength = 0;
  int code = ZENTA_E_NO_MEMORY;
  zenta::ExchangeReport report;
  try {
    const std::shared_ptr<zenta::Session> session = zenta::FindSession(handle);
    if (!session) {
      code = ZENTA_E_UNKNOWN_HANDLE;
    } else {
      zenta::AnswerBuffer body(session->AnswerCap());
      code = session->Carry(*request, *answer, body, report);
      if (code == ZENTA_OK) {
        answer->bodyLength = body.Size();
        answer->body = body.Release();
        if (answer->body == nullptr) code = ZENTA_E_NO_MEMORY;
      }
    }
  } catch (const std::bad_alloc&) {
    code = ZENTA_E_NO_MEMORY;
  }
  if (code != ZENTA_OK) zenta::NoteFailure(code, report.detail.Text());
  return code;
}
