// Corvane's C++ interface for any compiler: the records, the three setters and the fourteen
// operations of Corvane.h with the same names and signatures, implemented inline over the C
// interface (CorvaneC.h). A program built by MSVC, clang or any other compiler gets the C++
// interface with its own standard library's types and needs only the C functions that
// Corvane.dll / libCorvane.so export (Corvane.lib and ZENTA.lib on MSVC); no std:: object and no
// exception crosses the library's boundary.
//
// Corvane.h documents each operation: the request it sends, the status it returns and what it
// writes on which status. The same holds here, with these differences, all of them at the edges:
//   - an operation that fails with an exception has added nothing to the caller's containers
//     (Corvane.h keeps the entries appended before the throw);
//   - text from the server that holds a NUL byte arrives up to that byte, and text sent (ids,
//     settings) is cut at its first NUL byte;
//   - the exceptions are standard types, thrown in the caller's own module: std::bad_alloc,
//     std::invalid_argument ("invalid stoi argument") and std::out_of_range ("stoi argument out
//     of range") as in Corvane.h; where Corvane.h throws quim::Json::Error (a
//     std::runtime_error) or another exception, a std::runtime_error whose what() is
//     ErrorMessage(status), which holds the original exception's text.
// An exception is thrown only when the C interface failed on its own (corvane_interface_error);
// every status a server sends, -2, the gateway's range and -40001..-40099 included, is returned
// with the outputs written as Corvane.h writes them (corvane_answer_read tells an answer's
// status from the gateway's or from a request that did not fit).
//
// The declarations live in an inline namespace: callers write Corvane::API_GetPosConfig as
// with Corvane.h, while the names stay apart from the library's own C++ exports. Corvane.h and
// this header declare the same interface and cannot be included together.
//
// Threads: as Corvane.h. LastServerMessage and ErrorMessage report on the calling thread.
#ifndef CORVANE_CORVANECXX_H
#define CORVANE_CORVANECXX_H

#ifdef CORVANE_CORVANE_H
#error "CorvaneCxx.h and Corvane.h declare the same C++ interface: include only one of them"
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "CorvaneC.h"
#include "zenta/ZentaSdk.h"

namespace Corvane {
inline namespace OverC {

// Status of an operation whose request does not fit the gateway's records; nothing was sent.
// An enumerator, so that a program that never names it gets no unused-constant warning.
enum : int { kRequestTooLong = CORVANE_E_REQUEST_TOO_LONG };

// The records, as Corvane.h declares them.
#include "CorvaneRecords.h"

inline std::string ErrorMessage(int status);

namespace detail {

// What a C call returned, released with corvane_free however the caller's code is left.
template <class Record>
struct Result {
  Record* records = nullptr;
  int32_t count = 0;
  Result() = default;
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  ~Result() { corvane_free(records); }
};

inline std::string Text(const char* text) { return text != nullptr ? text : ""; }

// The status of the C call just made, or the exception the C++ interface throws for it when the
// C interface failed on its own.
inline int Checked(int status) {
  switch (corvane_interface_error()) {
    case CORVANE_OK:
      return status;
    case CORVANE_E_NO_MEMORY:
      throw std::bad_alloc();
    case CORVANE_E_INVALID_NUMBER:
      throw std::invalid_argument("invalid stoi argument");
    case CORVANE_E_NUMBER_RANGE:
      throw std::out_of_range("stoi argument out of range");
    default:
      throw std::runtime_error(ErrorMessage(status));
  }
}

// Whether the C call just made read an answer, and so its single outputs are to be written: not
// after a transport failure, nor when nothing was sent.
inline bool AnswerRead() { return corvane_answer_read() != 0; }

// A text that a C function copies like snprintf (copy(buffer, size) gives the full length).
template <class Copy>
std::string Copied(Copy copy) {
  std::string text;
  int32_t length = copy(nullptr, 0);
  // Once more while the text is longer than the room given (it cannot change on one thread).
  while (length > 0 && static_cast<std::size_t>(length) >= text.size()) {
    text.resize(static_cast<std::size_t>(length) + 1);
    length = copy(&text[0], static_cast<int32_t>(text.size()));
  }
  if (length == CORVANE_E_NO_MEMORY) throw std::bad_alloc();
  if (length < 0) throw std::runtime_error(corvane_status_text(length));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

inline void Set(int (*setter)(const char*), const std::string& value) {
  Checked(setter(value.c_str()));
}

}  // namespace detail

// The settings (Corvane.h): copied into every request built afterwards.
inline void SetLanguage(std::string language) { detail::Set(&corvane_set_language, language); }
inline void SetLangauage(std::string language) { detail::Set(&corvane_set_language, language); }
inline void SetMacAddress(std::string macAddress) {
  detail::Set(&corvane_set_mac_address, macAddress);
}
inline void SetTimeZone(std::string timeZone) { detail::Set(&corvane_set_time_zone, timeZone); }

// The operations, written from api/operations.toml.
#include "CorvaneCxxOps.h"

// The server's message with the last answer an operation read on the calling thread (Corvane.h).
inline std::string LastServerMessage() {
  return detail::Copied(
      [](char* buffer, int32_t size) { return corvane_last_server_message(buffer, size); });
}

// The whole error in one sentence (corvane_error_message).
inline std::string ErrorMessage(int status) {
  return detail::Copied(
      [status](char* buffer, int32_t size) { return corvane_error_message(status, buffer, size); });
}

}  // namespace OverC
}  // namespace Corvane

#endif  // CORVANE_CORVANECXX_H
