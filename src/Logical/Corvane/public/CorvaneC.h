/*
 * Corvane's C interface: the three settings and the fourteen operations of Corvane.h for callers
 * of any compiler or language (MSVC, C# P/Invoke, Python ctypes). C89 with <stdint.h>, C linkage,
 * exported from Corvane.dll / libCorvane.so beside the C++ interface.
 *
 * Each function is a thin wrapper over the C++ operation of the same meaning: the same request on
 * the wire, the same status. Only plain C crosses: NUL-terminated text, fixed-width integers and
 * structs of them. Nothing throws across this interface.
 *
 * Status of every function (int):
 *   0                      success;
 *   the gateway's code     the request did not complete (ZENTA_ErrorText in ZentaSdk.h says why);
 *   -1                     the answer could not be read (missing, not JSON, no "code");
 *   -2                     CORVANE_E_REQUEST_TOO_LONG: the request does not fit the gateway's
 *                          records (a formatted path of 1280 characters or more, a setting
 *                          longer than 1024 bytes); nothing was sent;
 *   CORVANE_E_*            an error of this interface: an exception of the C++ operation (a
 *                          number in the answer that is no int, a JSON type error, allocation
 *                          failure) or a null argument; corvane_status_text says which;
 *   any other value        the server's own business code (corvane_last_server_message gives
 *                          the server's words for it).
 * corvane_error_message puts all of it into one sentence: the status's meaning with the gateway's
 * detail or the server's words.
 * The C++ operations' codes keep their meaning here; this interface only adds -40001..-40099.
 *
 * Where a status came from: a server may send any code, also -2, one in the gateway's range or
 * one of -40001..-40099, and it comes back unchanged with the outputs written from the answer.
 * The number alone therefore does not tell who failed; right after a call, on the same thread:
 *   corvane_interface_error()  the CORVANE_E_* code when the call failed inside this interface
 *                              (an exception of the C++ operation, a refused argument), else 0;
 *   corvane_answer_read()      1 when the status is what the server answered (its code, or -1 for
 *                              an answer that could not be read or a channel it refused) and the
 *                              outputs were written from that answer, else 0.
 * Neither is 1 / non-zero after a gateway failure or a request that did not fit (-2, nothing
 * sent); ZENTA_IS_GATEWAY_CODE and the status then say which.
 *
 * Results: every output is reset when the call starts (integers to 0, result pointers to NULL,
 * counts to 0) and filled from the answer's "data" whenever an answer was read, whatever the
 * server's code, as the C++ operation fills its outputs. A list result is one block allocated by
 * the library: an array of records followed by every text they point to, NULL when the list is
 * empty; the caller releases it, whole, with one corvane_free call. On an error of this interface
 * no result is returned (entries read before the failure are discarded).
 *
 * Text is passed byte for byte (the server sends UTF-8); a text of the answer that holds a NUL
 * byte reaches the caller up to that byte.
 *
 * Threads: operations may run on several threads at once. The setters write process-wide
 * settings without a lock: call them before issuing operations, never while one runs.
 */
#ifndef CORVANE_CORVANEC_H
#define CORVANE_CORVANEC_H

#include <stdint.h>

#include "CorvaneExport.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Codes of this interface; only ever appended to. */
enum corvane_status {
  CORVANE_OK = 0,
  CORVANE_E_REQUEST_TOO_LONG = -2,   /* the path or a setting does not fit; nothing was sent */
  CORVANE_E_NO_MEMORY = -40001,      /* an allocation failed (std::bad_alloc) */
  CORVANE_E_INVALID_NUMBER = -40002, /* a dictionary code, key or value is no decimal number
                                        (std::invalid_argument "invalid stoi argument") */
  CORVANE_E_NUMBER_RANGE = -40003,   /* such a number is outside the int range
                                        (std::out_of_range "stoi argument out of range") */
  CORVANE_E_JSON_TYPE = -40004,      /* an answer member of the wrong JSON type, e.g. text where
                                        an integer belongs (quim::Json::Error) */
  CORVANE_E_EXCEPTION = -40005,      /* any other exception of the C++ operation */
  CORVANE_E_NULL_ARGUMENT = -40006,  /* a required pointer argument is null; nothing was sent */
  CORVANE_E_COUNT = -40007           /* a negative count of input items; nothing was sent */
};

/* A text for any status: the codes of this interface, 0, -1 and, in general words, the
 * gateway's and the server's codes. Never null; a static string. */
CORVANE_API const char* corvane_status_text(int status);

/* The whole error in one sentence, with everything known about status on the calling thread:
 * what it means and its number; for a gateway code (ZENTA_IS_GATEWAY_CODE) the gateway's text
 * and the transport's own words for the thread's last failure (ZENTA_LastErrorDetail); for a
 * server code the server's message (corvane_last_server_message); for a code of this interface
 * the text of the exception it stands for. A detail is used only when the thread's last call
 * ended in this very status from that source: a server's -20201 reads as the server's refusal,
 * and a status the last call did not end in gets its general meaning alone. For example
 *   "the server refused the request with code 4004: no channel D1001-C99"
 *   "the connection to the server was refused or could not be made (status -20201): Failed to
 *    connect to 127.0.0.1 port 9 ..."
 * Call it on the thread that got status, before that thread's next operation. Copies the sentence
 * into buffer like snprintf: cut to size - 1 bytes and NUL-terminated; buffer may be null when
 * size is 0. Returns the sentence's full length in bytes, so that a caller can size its buffer
 * and call again (CORVANE_E_NULL_ARGUMENT for a negative size or a null buffer with a positive
 * size; CORVANE_E_NO_MEMORY, with "" in buffer, when the sentence could not be made).
 * Thread-safe. */
CORVANE_API int32_t corvane_error_message(int status, char* buffer, int32_t size);

/* The version of the library loaded, "MAJOR.MINOR.PATCH" (CORVANE_VERSION_* give the version of
 * the headers a caller was built with). Never null; a static string. */
CORVANE_API const char* corvane_version(void);

/* Copies the "message" of the last answer that an operation read on the calling thread (the
 * server's words for its code; "" when it had none, or when no answer arrived) into buffer,
 * cut to size - 1 bytes and NUL-terminated, like snprintf. Returns the message's full length in
 * bytes (CORVANE_E_NO_MEMORY when it could not be copied, with "" in buffer, or
 * CORVANE_E_NULL_ARGUMENT); buffer may be null when size is 0. */
CORVANE_API int32_t corvane_last_server_message(char* buffer, int32_t size);

/* Releases a block that a function of this interface returned; null is harmless. */
CORVANE_API void corvane_free(void* block);

/* Who failed in the calling thread's last operation or setter of this interface: the CORVANE_E_*
 * code it returned when it failed inside this interface (an exception of the C++ operation, a
 * null argument, a negative count), else 0 - also when its status is a server's code that
 * happens to equal one of this interface's. The functions that only report (corvane_error_message,
 * corvane_last_server_message, corvane_status_text, corvane_version, corvane_free and these two)
 * leave it as it is. Thread-safe: each thread sees its own last call. */
CORVANE_API int corvane_interface_error(void);

/* 1 when the calling thread's last operation of this interface ended with an answer of the
 * server: its status is the server's code (0 for its success, any other value unchanged, also
 * -2, a gateway-range code or -40001..-40099) or -1 for an answer that could not be read or a
 * channel the server refused, and its outputs were written from that answer as Corvane.h writes
 * them. 0 after a gateway failure, a request that did not fit, an interface failure, a setter or
 * before any call. Left as it is by the reporting functions. Thread-safe, per thread. */
CORVANE_API int corvane_answer_read(void);

/* The settings: the "Accept-Language" and "Time-Zone" header values and the "clientMac" member
 * of request bodies, copied into every request built afterwards. 0, CORVANE_E_NULL_ARGUMENT or
 * CORVANE_E_NO_MEMORY. */
CORVANE_API int corvane_set_language(const char* language);
CORVANE_API int corvane_set_time_zone(const char* timeZone);
CORVANE_API int corvane_set_mac_address(const char* macAddress);

/* The results (records whose texts are NUL-terminated and live in the block of the result)
 * and the operations. handle is the gateway session (ZENTA_OpenSession), passed on unchanged.
 * Text arguments must not be null; they go into the REST path unescaped. */
#include "CorvaneCOps.h"

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_CORVANEC_H */
