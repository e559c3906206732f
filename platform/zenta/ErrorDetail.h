// The reason of a failure in the transport's own words, kept per thread for
// ZENTA_LastErrorDetail and the trace line.
#ifndef ZENTA_ERRORDETAIL_H
#define ZENTA_ERRORDETAIL_H

#include <cstddef>

namespace zenta {

// A failure's detail as an exchange reports it: fixed storage, so reporting never allocates. Only
// the text up to its NUL counts, so a new or cleared detail writes one byte, not its width.
class Detail {
 public:
  static constexpr std::size_t kWidth = 512;

  Detail() { text_[0] = '\0'; }

  // Empties the text.
  void Clear() { text_[0] = '\0'; }
  // Replaces the text (printf-style), cut to the width.
  void Set(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  const char* Text() const { return text_; }

 private:
  char text_[kWidth];
};

// Keeps text (or the code's own text when text is null or empty) as the calling thread's last
// failure detail.
void NoteFailure(int code, const char* text);

// Empties the calling thread's detail: a call that did not fail leaves none behind it.
void ClearFailure();

}  // namespace zenta

#endif  // ZENTA_ERRORDETAIL_H
