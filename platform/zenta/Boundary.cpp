// ZENTA's side of the C boundary with Ostrel: every function of Boundary.h. A checked request
// in, an answer out, and no exception or C++ object across.
#include "Boundary.h"

#include <cstdlib>
#include <new>
#include <string>

#include "AnswerBuffer.h"
#include "ErrorDetail.h"
#include "SessionTable.h"

namespace {

// The session of the calling thread's last ZENTA_CarryRequest, whose scrubber runs over the
// detail Ostrel makes of its answer.
thread_local std::weak_ptr<zenta::Session> lastCarrier;

}  // namespace

extern "C" ZENTA_API int ZENTA_CarryRequest(int handle, const ZENTA_HttpRequest* request,
                                            ZENTA_HttpAnswer* answer) {
  answer->status = 0;
  answer->retryAfter = -1;
  answer->contentTypeLength = 0;
  answer->challengeLength = 0;
  answer->body = nullptr;
  answer->bodyLength = 0;
  int code = ZENTA_E_NO_MEMORY;
  zenta::ExchangeReport report;
  try {
    zenta::CallTarget target;
    const bool found = zenta::FindCall(handle, target);
    lastCarrier = target.session;
    if (!found) {
      code = ZENTA_E_UNKNOWN_HANDLE;
    } else {
      zenta::AnswerBuffer body(target.session->AnswerCap());
      code = target.session->Carry(*request, *answer, body, report, target.Control());
      if (code == ZENTA_OK) {
        answer->bodyLength = body.Size();
        answer->body = body.Release();
        if (answer->body == nullptr) code = ZENTA_E_NO_MEMORY;
      }
    }
  } catch (const std::bad_alloc&) {
    code = ZENTA_E_NO_MEMORY;
  }
  if (code != ZENTA_OK) {
    zenta::NoteFailure(code, report.detail.Text());
  } else {
    zenta::ClearFailure();
  }
  return code;
}

extern "C" ZENTA_API char* ZENTA_KeepAnswer(ZENTA_HttpAnswer* answer) {
  char* body = answer->body;
  answer->body = nullptr;
  if (zenta::RegisterAnswer(body)) return body;
  std::free(body);
  return nullptr;
}

extern "C" ZENTA_API void ZENTA_DropAnswer(ZENTA_HttpAnswer* answer) {
  std::free(answer->body);
  answer->body = nullptr;
}

extern "C" ZENTA_API void ZENTA_NoteFailure(int code, const char* detail) {
  if (detail == nullptr) return zenta::NoteFailure(code, detail);
  const std::shared_ptr<zenta::Session> session = lastCarrier.lock();
  // Scrubbed whole, then cut: a credential that straddled the cut would leave its first bytes.
  constexpr std::size_t kMostBytes = 210;  // "HTTP nnn: " and 200 bytes of the page's words
  std::string kept;
  try {
    kept = detail;
    if (session) session->Scrub(kept);
  } catch (const std::bad_alloc&) {
    kept.clear();  // the code's text rather than a detail that may hold a secret
  }
  if (kept.size() > kMostBytes) kept.resize(kMostBytes);
  zenta::NoteFailure(code, kept.c_str());
}

extern "C" ZENTA_API size_t ZENTA_OutstandingAnswerBuffers(void) {
  return zenta::RegisteredAnswers();
}
