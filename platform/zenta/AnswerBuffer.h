// The bytes of one answer as they arrive, held once: the storage grows in place (realloc) and is
// handed over to the caller as it is, with no copy. Its size never passes the session's cap.
#ifndef ZENTA_ANSWERBUFFER_H
#define ZENTA_ANSWERBUFFER_H

#include <cstddef>

namespace zenta {

// The largest answer body a session accepts unless its options set another cap
// (maxAnswerBytes); a longer one fails with ZENTA_E_ANSWER_TOO_LARGE, so a hostile or broken
// server cannot make the client allocate without bound.
constexpr std::size_t kMaxAnswerBytes = 64u * 1024u * 1024u;

class AnswerBuffer {
 public:
  explicit AnswerBuffer(std::size_t cap) : cap_(cap) {}
  ~AnswerBuffer();
  AnswerBuffer(const AnswerBuffer&) = delete;
  AnswerBuffer& operator=(const AnswerBuffer&) = delete;

  // Makes room for an announced length (at most the cap) plus the final NUL, so that an answer
  // of that length is never moved. Returns 0 or ZENTA_E_NO_MEMORY.
  int Reserve(std::size_t length);
  // Appends bytes. Returns 0, ZENTA_E_ANSWER_TOO_LARGE when the cap would be passed (nothing is
  // appended) or ZENTA_E_NO_MEMORY.
  int Append(const char* data, std::size_t size);
  // Room for up to `wanted` more bytes written in place (at most one byte past the cap, which
  // reveals an answer that is too long); Commit counts what was written. Null on no memory.
  char* Room(std::size_t wanted);
  void Commit(std::size_t written) { size_ += written; }
  // Forgets the bytes, keeps the storage (an exchange tried again).
  void Clear() { size_ = 0; }

  std::size_t Size() const { return size_; }
  std::size_t Cap() const { return cap_; }
  // Gives the storage away, NUL-terminated one byte past Size(); null on no memory. The buffer is
  // empty afterwards. Free what it returns with std::free.
  char* Release();

 private:
  bool Grow(std::size_t needed);

  const std::size_t cap_;
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // bytes allocated, the NUL's included
};

// The registry of answers handed over to clients (given back through ZENTA_ReleaseDataBuffer).
// Thread-safe. Registers body (from AnswerBuffer::Release); false when memory ran out, and body
// is then still the caller's.
bool RegisterAnswer(char* body);
// How many registered answers have not been released.
std::size_t RegisteredAnswers();

}  // namespace zenta

#endif  // ZENTA_ANSWERBUFFER_H
