/*
 * The C boundary between Ostrel and ZENTA: what ZENTA_GeneralJsonRequest (Ostrel) calls inside
 * ZENTA to carry one checked request. Plain structs, pointers and lengths with C linkage, so that
 * the two libraries may be built by different compilers and no C++ object passes between them.
 * Not part of the public SDK: Ostrel and the gateway's own tests include it.
 */
#ifndef ZENTA_BOUNDARY_H
#define ZENTA_BOUNDARY_H

#include <stddef.h>
#include <zenta/ZentaSdk.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One request header; the texts are not NUL-terminated. */
typedef struct ZENTA_HttpHeader {
  const char* name;
  size_t nameLength;
  const char* value;
  size_t valueLength;
} ZENTA_HttpHeader;

/* A request whose method, target and headers are already checked: the method is an HTTP token,
 * the target "/" + the encoded path (the session puts its base path in front), names are tokens
 * and no name or value holds CR, LF or NUL. Everything is borrowed for the call. */
typedef struct ZENTA_HttpRequest {
  const char* method;
  size_t methodLength;
  const char* target;
  size_t targetLength;
  const ZENTA_HttpHeader* headers;
  size_t headerCount;
  const char* body; /* bodyLength bytes, sent only when bodyLength > 0 */
  size_t bodyLength;
} ZENTA_HttpRequest;

/* Width of the content type kept with an answer; a longer one is cut (its media type, the part
 * that decides, is far shorter). */
#define ZENTA_CONTENT_TYPE_WIDTH 128

/* What came back from one exchange, whatever its HTTP status. body belongs to ZENTA until
 * ZENTA_KeepAnswer or ZENTA_DropAnswer; it is NUL-terminated one byte past bodyLength. */
typedef struct ZENTA_HttpAnswer {
  int status;
  int retryAfter;        /* seconds the server asked to wait (Retry-After), -1 when it did not */
  int contentTypeLength; /* bytes of contentType; 0 when the answer had none */
  char contentType[ZENTA_CONTENT_TYPE_WIDTH];
  int challengeLength; /* bytes of challenge; 0 when the answer had no WWW-Authenticate */
  char challenge[ZENTA_CONTENT_TYPE_WIDTH]; /* the first WWW-Authenticate value, cut to fit */
  char* body;
  size_t bodyLength;
} ZENTA_HttpAnswer;

/* Carries request on the session named by handle. Returns 0 when an HTTP answer arrived (answer
 * filled, any status; give it to ZENTA_KeepAnswer or ZENTA_DropAnswer), else a negative ZENTA
 * code with nothing to release and the failure's detail kept for ZENTA_LastErrorDetail.
 * Thread-safe; several threads may use one handle at once. */
ZENTA_API int ZENTA_CarryRequest(int handle, const ZENTA_HttpRequest* request,
                                 ZENTA_HttpAnswer* answer);

/* Makes answer's body an outstanding answer buffer, to be given back through
 * ZENTA_ReleaseDataBuffer, and returns it; null when memory ran out (the body is then freed). */
ZENTA_API char* ZENTA_KeepAnswer(ZENTA_HttpAnswer* answer);

/* Frees the body of an answer that is not handed over. */
ZENTA_API void ZENTA_DropAnswer(ZENTA_HttpAnswer* answer);

/* Keeps detail (NUL-terminated), or the text of code when detail is null or empty, as the
 * calling thread's last failure detail, for the failures Ostrel finds itself (a refused record,
 * an HTTP status with its page's title or first line). A server may echo a credential in its body:
 * the detail is scrubbed by the session the thread's last ZENTA_CarryRequest went to, then cut to
 * 210 bytes ("HTTP nnn: " and 200 bytes of the page's words). */
ZENTA_API void ZENTA_NoteFailure(int code, const char* detail);

/* Number of answer buffers handed over and not yet released; lets tests prove nothing leaks. */
ZENTA_API size_t ZENTA_OutstandingAnswerBuffers(void);

#ifdef __cplusplus
}
#endif

#endif /* ZENTA_BOUNDARY_H */
