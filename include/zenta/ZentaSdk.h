/*
 * ZENTA platform SDK gateway: the C interface through which a client library sends one REST
 * request to its platform server and gets the answer back.
 *
 * Two shared libraries implement it:
 *   - ZENTA  (ZENTA.dll / libZENTA.so): sessions, answer buffers, error texts;
 *   - Ostrel (Ostrel.dll / libOstrel.so): ZENTA_GeneralJsonRequest, which carries one request.
 *
 * An application opens a session on its platform server's URL and gets a handle; the client
 * library passes that handle to ZENTA_GeneralJsonRequest with a filled request record. Every
 * function is callable from any thread; one handle may carry calls from several threads at once.
 *
 * Every function returns 0 (ZENTA_OK) on success or one of the negative codes below. The codes
 * are never -1 (which client libraries use for "unreadable answer") and are only ever appended
 * to: a value, once published, keeps its meaning.
 */
#ifndef ZENTA_ZENTASDK_H
#define ZENTA_ZENTASDK_H

/* ZENTA_API marks what ZENTA exports, OSTREL_API what Ostrel exports: each is dllexport while
 * its own library builds and dllimport for everyone else; ZENTA_STATIC (static libraries) makes
 * both empty. */
#if defined(ZENTA_STATIC) /* static libraries: nothing to export or import */
#define ZENTA_EXPORT_
#define ZENTA_IMPORT_
#elif defined(_WIN32)
#define ZENTA_EXPORT_ __declspec(dllexport)
#define ZENTA_IMPORT_ __declspec(dllimport)
#else
#define ZENTA_EXPORT_ __attribute__((visibility("default")))
#define ZENTA_IMPORT_ __attribute__((visibility("default")))
#endif
#if defined(ZENTA_BUILDING)
#define ZENTA_API ZENTA_EXPORT_
#else
#define ZENTA_API ZENTA_IMPORT_
#endif
#if defined(OSTREL_BUILDING)
#define OSTREL_API ZENTA_EXPORT_
#else
#define OSTREL_API ZENTA_IMPORT_
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum ZENTA_ErrorCode {
  ZENTA_OK = 0,
  /* Arguments */
  ZENTA_E_NULL_ARGUMENT = -20001,      /* a required pointer argument is null */
  ZENTA_E_REQUEST_SIZE = -20002,       /* requestSize is not the size of the request record */
  ZENTA_E_RESPONSE_SIZE = -20003,      /* responseSize is not the size of the response record */
  ZENTA_E_UNKNOWN_HANDLE = -20004,     /* the handle names no open session */
  ZENTA_E_BAD_URL = -20005,            /* server URL null, empty or malformed */
  ZENTA_E_UNSUPPORTED_SCHEME = -20006, /* server URL scheme is neither http nor https */
  ZENTA_E_OPTIONS_SIZE = -20007,       /* options->structSize smaller than the first version */
  ZENTA_E_BAD_OPTION = -20008,         /* an option value out of range (negative timeout...) */
  ZENTA_E_BAD_METHOD = -20009,         /* method empty or not an HTTP token */
  ZENTA_E_BAD_HEADER = -20010,         /* header name/value holds CR or LF, or is malformed */
  ZENTA_E_BAD_RECORD = -20011,         /* request record inconsistent (lengths, null arrays) */
  ZENTA_E_UNKNOWN_BUFFER = -20012,     /* released pointer is no outstanding answer */
  /* Resources */
  ZENTA_E_NO_MEMORY = -20100,         /* an allocation failed */
  ZENTA_E_SESSION_CLOSED = -20101,    /* the session was closed while the call waited */
  ZENTA_E_ANSWER_TOO_LARGE = -20102,  /* the answer exceeded the session's size cap */
  ZENTA_E_TRANSPORT_INIT = -20103,    /* the transport could not be initialised */
  ZENTA_E_HANDLES_EXHAUSTED = -20104, /* every session handle value has been used */
  ZENTA_E_INHERITED_SESSION = -20105, /* the session belongs to the process that forked this one */
  ZENTA_E_CREDENTIAL = -20106,        /* the session's token callback gave no token */
  ZENTA_E_CANCELLED = -20107,         /* the call was cancelled (ZENTA_CancelScope, a closed
                                         session or scope, a progress callback's non-zero return) */
  /* Transport */
  ZENTA_E_RESOLVE = -20200,   /* the server's host name could not be resolved */
  ZENTA_E_CONNECT = -20201,   /* the connection was refused or could not be made */
  ZENTA_E_TIMEOUT = -20202,   /* connect or whole-request timeout elapsed */
  ZENTA_E_TLS = -20203,       /* TLS handshake or certificate verification failed */
  ZENTA_E_SEND = -20204,      /* sending the request failed */
  ZENTA_E_RECEIVE = -20205,   /* receiving the answer failed (connection dropped...) */
  ZENTA_E_PROTOCOL = -20206,  /* the server's answer was not valid HTTP (or status >= 600) */
  ZENTA_E_TRANSPORT = -20207, /* any other transport failure */
  /* HTTP: an answer with a status other than 2xx and no JSON content type becomes
   * ZENTA_E_HTTP_STATUS_BASE - status (e.g. -30502 for 502); see ZENTA_HttpStatusOf. */
  ZENTA_E_HTTP_STATUS_BASE = -30000
};

/* The range every code of this SDK falls in (the HTTP family included): a status inside it came
 * from the gateway (no connection, timeout, TLS, protocol, an HTTP status), one outside it from
 * the client library or its server. */
#define ZENTA_FIRST_CODE (-20001)
#define ZENTA_LAST_CODE (ZENTA_E_HTTP_STATUS_BASE - 599)
#define ZENTA_IS_GATEWAY_CODE(status) ((status) <= ZENTA_FIRST_CODE && (status) >= ZENTA_LAST_CODE)

/* Text for any code this SDK returns (never null; unknown codes get a generic text). */
ZENTA_API const char* ZENTA_ErrorText(int code);

/* The HTTP status kept in a code of the ZENTA_E_HTTP_STATUS_BASE family (100..599), else 0. */
ZENTA_API int ZENTA_HttpStatusOf(int code);

/* Gives a session a bearer token: called before the session's first request (refresh 0) and,
 * once, after the server answered 401 to the token it gave (refresh 1). Writes the token (without
 * "Bearer ") NUL-terminated into token, at most size bytes with the NUL, and returns its length;
 * a negative result, an empty token, one holding a byte an authorization value may not hold (a
 * control byte but tab, DEL), or a token that does not fit fails the call with
 * ZENTA_E_CREDENTIAL. The session calls it from a calling thread, never from two threads at once:
 * calls in flight wait for one run, each at most until its own request timeout
 * (ZENTA_E_TIMEOUT, nothing sent), and share its token or its failure. */
typedef int (*ZENTA_TokenCallback)(void* context, int refresh, char* token, int size);

typedef struct ZENTA_SessionOptions {
  unsigned int structSize; /* sizeof(ZENTA_SessionOptions): lets the struct grow */
  int connectTimeoutMs;    /* 0: default 5000 */
  int requestTimeoutMs;    /* 0: default 30000, whole exchange incl. waiting for a connection */
  int maxConnections;      /* 0: default 4, connections kept per session (at most 64) */
  int verifyTls;           /* 0 (default) or 1: verify the server certificate and host name;
                              2: do not verify (test servers with self-signed certificates) */
  const char* caFile;      /* null or "": the system's CA store; copied by ZENTA_OpenSession */
  /* Second version: read only when structSize covers it. */
  int maxAnswerBytes; /* 0: default 64 MiB; the largest answer body accepted, in bytes */
  /* Third version: read only when structSize covers them. Texts are copied by ZENTA_OpenSession;
   * credentials never appear in a trace line, an error detail or a log. */
  const char* authorization;         /* null or "": none; else the Authorization value of every
                                        request ("Bearer abc", "Basic ...") */
  const char* const* headers;        /* null, or "Name: value" lines ended by a null pointer, sent
                                        with every request (API keys); never the framing or the
                                        standard headers, nor Authorization when authorization
                                        or tokenCallback is set (refused at open) */
  ZENTA_TokenCallback tokenCallback; /* null: none; else "Authorization: Bearer <token>" with the
                                        callback's token (instead of authorization) */
  void* tokenContext;                /* passed to tokenCallback */
  const char* clientCert;            /* null or "": no client certificate. Linux: a PEM file;
                                        Windows: a PFX file, or "store:<SHA-1 thumbprint>" for a
                                        certificate of the user's store */
  const char* clientKey;             /* Linux: the PEM key file (null: in clientCert's file) */
  const char* clientKeyPassword;     /* null: none; the key's (or the PFX file's) password */
  const char* proxy;                 /* null: the environment's (Linux: http_proxy, https_proxy,
                                        no_proxy) or the system's (Windows); "": none;
                                        "http://host:port": that proxy */
  int retries;                       /* 0 (default): none; at most 10 tries after the first, with
                                        backoff, within the request timeout */
  int compression;                   /* 0 (default) or 1: ask for gzip and decode it within the
                                        answer cap; 2: ask for no compression */
  /* Fourth version: read only when structSize covers them. */
  int trace;      /* 0 (default): as the environment's ZENTA_TRACE says; 1: one trace line per
                     exchange on standard error; 2: none, whatever the environment says; 3:
                     verbose, as 1 with lines before it as curl -v writes them ("* " libcurl's
                     account: address, TLS version, server certificate; "> " the request head,
                     header values as ***; "< " the status line and header names) */
  int revocation; /* Windows: 0 (default) a server certificate whose revocation cannot be checked
                     is refused; 1: best effort, checked where a revocation list can be reached.
                     Linux: not checked, ignored */
  /* more fields may follow; read them only when structSize covers them */
} ZENTA_SessionOptions;

/* Opens a session on serverUrl ("http://host:port" or "https://host:port", optionally followed
 * by a base path) and writes its handle, a positive int never reused while the process lives.
 * options may be null (all defaults). Nothing is connected yet: the first request connects.
 * On failure *handle is set to 0 (when handle is not null). */
ZENTA_API int ZENTA_OpenSession(const char* serverUrl, const ZENTA_SessionOptions* options,
                                int* handle);

/* Closes a session and returns at once: calls in flight on it and on its scopes end with
 * ZENTA_E_CANCELLED (within 100 ms), its scopes are closed, calls that start later get
 * ZENTA_E_UNKNOWN_HANDLE. The session's memory and connections are freed when the last call in
 * flight has returned; its callbacks and their contexts must stay valid until then. A scope's
 * handle gets ZENTA_E_UNKNOWN_HANDLE here (ZENTA_CloseScope closes it). */
ZENTA_API int ZENTA_CloseSession(int handle);

/* Opens a scope under parent (a session or a scope) and writes its handle into *scope. A scope is
 * a handle usable wherever a session handle is; it shares its session's options, credentials and
 * connections, and exists so that the calls started on it can be cancelled together (one scope
 * per view of an application). On failure *scope is set to 0 (when scope is not null). */
ZENTA_API int ZENTA_OpenScope(int parent, int* scope);

/* Cancels a session or a scope: every call in flight on it, and on the scopes under it, ends
 * within 100 ms with ZENTA_E_CANCELLED, and every later call on it ends at once with the same code
 * and sends nothing. The parent of a scope is untouched. A request that may have reached the
 * server is never sent again because of a cancel; a cancelled exchange's connection is closed. */
ZENTA_API int ZENTA_CancelScope(int handle);

/* Cancels what runs on a scope (and the scopes under it) and releases it with the scopes under
 * it; returns at once. Later calls on them get ZENTA_E_UNKNOWN_HANDLE. A session's handle gets
 * ZENTA_E_UNKNOWN_HANDLE here (ZENTA_CloseSession closes it). */
ZENTA_API int ZENTA_CloseScope(int scope);

/* Watches answers arrive: called on the calling thread while an answer body arrives, at least
 * every 64 KiB or 100 ms, with the bytes received so far and the announced length (-1 when the
 * answer announces none). A non-zero return cancels that call with ZENTA_E_CANCELLED. */
typedef int (*ZENTA_ProgressCallback)(void* context, long long received, long long total);

/* Sets (or, with a null callback, removes) the progress callback of a session or a scope; it
 * applies to calls that start afterwards on that handle, not to the scopes under it (a new scope
 * has none). The callback and its context must stay valid until those calls have returned. */
ZENTA_API int ZENTA_SetProgressCallback(int handle, ZENTA_ProgressCallback callback, void* context);

/* Receives trace lines (one per exchange, escaped, without a line feed) instead of standard
 * error, for every session whose tracing is on; standard error's lines start with "ZENTA ", the
 * sink's do not. A null sink restores standard error. The sink may be called from several threads
 * at once. Returns 0. */
typedef void (*ZENTA_TraceSink)(void* context, const char* line);
ZENTA_API int ZENTA_SetTraceSink(ZENTA_TraceSink sink, void* context);

/* Carries one request (Ostrel). request points to the request record (requestSize bytes),
 * response to a zero-filled response record (responseSize bytes). On 0 the response record
 * holds the answer in a buffer that must go back through ZENTA_ReleaseDataBuffer; the answer is
 * NUL-terminated one byte past answerLength (an empty answer is a 1-byte buffer holding NUL).
 * On any other code answer and auxBuffer are null and nothing needs releasing. auxBuffer is
 * always null. The request record is only read. */
OSTREL_API int ZENTA_GeneralJsonRequest(int handle, void* request, int requestSize, void* response,
                                        int responseSize);

/* Gives back a buffer that ZENTA_GeneralJsonRequest placed in a response record. A null buffer
 * is harmless (0); a pointer that is not an outstanding answer buffer is left alone and gets
 * ZENTA_E_UNKNOWN_BUFFER, so a double release cannot corrupt the heap. */
ZENTA_API int ZENTA_ReleaseDataBuffer(void* buffer);

/* The detail of the last failed call on the calling thread, in the transport's own words where
 * it had any (libcurl's error text and the system error), else the code's text. A request that
 * gets an answer clears it; an answer in JSON with an error status, handed over for its code to
 * be read, leaves its status and the error its WWW-Authenticate challenge names, if any:
 * 'HTTP 401 (error="invalid_token")'. Writes it NUL-terminated into buffer, cut to size bytes
 * (the NUL included); buffer may be null when size is 0. Returns the detail's full length without
 * the NUL, so a caller can size its buffer. Before any failure the detail is empty. */
ZENTA_API int ZENTA_LastErrorDetail(char* buffer, int size);

#ifdef __cplusplus
}
#endif

#endif /* ZENTA_ZENTASDK_H */
