// The C interface (CorvaneC.h) over the C++ operations. Each function checks its pointers, runs
// the C++ operation inside Guarded, which turns the operation's exceptions into this interface's
// codes and notes them on the thread's LastCall (APICommon.h) so that a caller can tell them from
// a server's code of the same number, and packs the C++ results into one malloc block that
// corvane_free releases.
#include "public/CorvaneC.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "APICommon.h"
#include "CopyText.h"
#include "public/Corvane.h"
#include "quim/Json.h"
#include "zenta/ZentaSdk.h"

static_assert(sizeof(int) == sizeof(int32_t), "int32_t results hold the C++ interface's ints");

namespace {

// Notes the interface's own failure (status, and the text of the exception behind it) on the
// thread's LastCall and returns status.
int Noted(int status, const char* text) noexcept {
  Corvane::NoteLastCall(Corvane::Outcome::kInterface, status, text);
  return status;
}

// A call refused for its arguments before anything ran.
int Refused(int status) noexcept { return Noted(status, ""); }

// Runs call and returns its status. No exception may unwind into a C caller's frames, so each
// one becomes the code that names it; the C++ operation has released its request by then.
template <class Call>
int Guarded(Call&& call) noexcept {
  Corvane::ForgetLastCall();
  try {
    return call();
  } catch (const std::bad_alloc& e) {
    return Noted(CORVANE_E_NO_MEMORY, e.what());
  } catch (const std::invalid_argument& e) {
    return Noted(CORVANE_E_INVALID_NUMBER, e.what());
  } catch (const std::out_of_range& e) {
    return Noted(CORVANE_E_NUMBER_RANGE, e.what());
  } catch (const quim::Json::Error& e) {
    return Noted(CORVANE_E_JSON_TYPE, e.what());
  } catch (const std::exception& e) {
    return Noted(CORVANE_E_EXCEPTION, e.what());
  } catch (...) {  // not std::exception: still must not reach a C frame
    return Noted(CORVANE_E_EXCEPTION, "an exception of a type not derived from std::exception");
  }
}

// Resets every output (0, null) and reports whether all of them exist.
template <class... Output>
bool Reset(Output*... outputs) {
  if ((!outputs || ...)) return false;
  ((*outputs = Output{}), ...);
  return true;
}

// Lays a result out in one block: record arrays (each aligned for its type) and texts in the
// order they are asked for. A Packer without a block only measures; the writing run must make
// the same calls in the same order as the measuring one.
class Packer {
 public:
  explicit Packer(char* block) : block_(block) {}
  std::size_t Size() const { return used_; }

  // Room for count records; null while measuring and when count is 0.
  template <class Record>
  Record* Records(std::size_t count) {
    used_ = (used_ + alignof(Record) - 1) / alignof(Record) * alignof(Record);
    Record* records = nullptr;
    if (block_ != nullptr && count > 0) records = reinterpret_cast<Record*>(block_ + used_);
    used_ += count * sizeof(Record);
    return records;
  }

  // A copy of size bytes followed by a NUL byte; null while measuring.
  const char* Bytes(const char* data, std::size_t size) {
    char* copy = block_ == nullptr ? nullptr : block_ + used_;
    if (copy != nullptr) {
      if (size > 0) std::memcpy(copy, data, size);
      copy[size] = '\0';
    }
    used_ += size + 1;
    return copy;
  }

  // A C++ text as C sees it: up to its first NUL byte.
  const char* Text(const std::string& text) {
    return Bytes(text.c_str(), std::strlen(text.c_str()));
  }

  // Writes record index of records (does nothing while measuring).
  template <class Record>
  static void Put(Record* records, std::size_t index, const Record& record) {
    if (records != nullptr) new (records + index) Record(record);
  }

 private:
  char* block_;
  std::size_t used_ = 0;
};

// Runs fill twice, measuring and then writing, and hands the block to *result; an empty layout
// (an empty list) gives no block. Throws std::bad_alloc (for Guarded) when there is no room.
template <class Record, class Fill>
void Pack(Record** result, Fill fill) {
  Packer measure(nullptr);
  fill(measure);
  if (measure.Size() == 0) return;
  char* block = static_cast<char*>(std::malloc(measure.Size()));
  if (block == nullptr) throw std::bad_alloc();
  Packer write(block);
  fill(write);
  *result = reinterpret_cast<Record*>(block);
}

// Packs one record per element of list, made by convert(packer, element), into *result and
// *count, and returns the operation's status.
template <class Record, class List, class Convert>
int PackList(int status, const List& list, Record** result, int32_t* count, Convert convert) {
  Pack(result, [&](Packer& packer) {
    Record* records = packer.Records<Record>(list.size());
    std::size_t index = 0;
    for (const auto& element : list) Packer::Put(records, index++, convert(packer, element));
  });
  *count = static_cast<int32_t>(list.size());
  return status;
}

int SetSetting(const char* value, void (*setter)(std::string)) {
  if (value == nullptr) return Refused(CORVANE_E_NULL_ARGUMENT);
  return Guarded([&] {
    setter(value);
    return CORVANE_OK;
  });
}

}  // namespace

extern "C" {

const char* corvane_status_text(int status) {
  switch (status) {
    case CORVANE_OK:
      return "success";
    case -1:
      return "the answer could not be read (missing, not JSON, not an object or without a code), "
             "or the server listed a channel as failed when its volume was set";
    case CORVANE_E_REQUEST_TOO_LONG:
      return "the request does not fit: a path of 1280 characters or more, or a setting longer "
             "than 1024 bytes; nothing was sent";
    case CORVANE_E_NO_MEMORY:
      return "out of memory: an allocation failed";
    case CORVANE_E_INVALID_NUMBER:
      return "a number in the answer is not a decimal integer (invalid stoi argument)";
    case CORVANE_E_NUMBER_RANGE:
      return "a number in the answer is outside the int range (stoi argument out of range)";
    case CORVANE_E_JSON_TYPE:
      return "a member of the answer has the wrong JSON type";
    case CORVANE_E_EXCEPTION:
      return "the operation failed with an unexpected exception";
    case CORVANE_E_NULL_ARGUMENT:
      return "a required pointer argument is null";
    case CORVANE_E_COUNT:
      return "a count of input items is negative";
    default:
      break;
  }
  if (ZENTA_IS_GATEWAY_CODE(status)) {
    return "the gateway could not complete the request (ZENTA_ErrorText gives the reason)";
  }
  if (status <= -40001 && status >= -40099) return "an unknown status of the C interface";
  return "the server's own code (corvane_last_server_message gives its words)";
}

int32_t corvane_last_server_message(char* buffer, int32_t size) {
  // Not through Guarded: asking about the last call must not clear what is noted about it.
  return Corvane::detail::CopyText(buffer, size, [] { return Corvane::LastServerMessage(); });
}

void corvane_free(void* block) { std::free(block); }

int corvane_interface_error(void) {
  const Corvane::LastCall& last = Corvane::LastCallOnThread();
  return last.outcome == Corvane::Outcome::kInterface ? last.status : CORVANE_OK;
}

int corvane_answer_read(void) {
  switch (Corvane::LastCallOnThread().outcome) {
    case Corvane::Outcome::kAnswer:
    case Corvane::Outcome::kUnreadable:
    case Corvane::Outcome::kChannelRefused:
      return 1;
    default:
      return 0;
  }
}

int corvane_set_language(const char* language) {
  return SetSetting(language, &Corvane::SetLanguage);
}

int corvane_set_time_zone(const char* timeZone) {
  return SetSetting(timeZone, &Corvane::SetTimeZone);
}

int corvane_set_mac_address(const char* macAddress) {
  return SetSetting(macAddress, &Corvane::SetMacAddress);
}

}  // extern "C"

// The operations' C functions, written from api/operations.toml.
#include "CorvaneCWrappers.gen.h"
