// The rules an answer's head must follow before its body may be handed over, applied line by line
// as a transport receives the head, so that every transport refuses the same answers with the
// same words. An answer is taken only when its end can be proven: a Content-Length of digits or
// chunked coding, once and last. Anything that could turn a cut, a stray or a rewritten answer
// into a short success is a protocol error (ZENTA_E_PROTOCOL) with a detail that names the rule:
// a status line that is not HTTP/1.0 or 1.1 with a status of 100..599, a malformed or
// disagreeing Content-Length, any transfer coding but one final chunked, both framings at once,
// neither framing on an answer that has a body (but an error status, 400..599, whose body a close
// ends: it is never handed over, only its status and first line), a content coding the session
// did not ask for, a
// folded framing header, a head above 100 KiB. Lines after the final head (trailers) never change
// what the head said.
#ifndef ZENTA_ANSWERHEAD_H
#define ZENTA_ANSWERHEAD_H

#include <cstddef>
#include <string_view>

#include "Boundary.h"
#include "ErrorDetail.h"

namespace zenta {

class AnswerHead {
 public:
  // The most bytes all lines of an answer's heads may have together (interim heads included).
  static constexpr std::size_t kMostHeadBytes = 100 * 1024;

  // Starts reading a new answer into answer (its status and content type). headRequest: the
  // answer to HEAD, which announces a body that never comes. gzipAsked: the request asked for
  // gzip, which the transport decodes, so "Content-Encoding: gzip" (once) is accepted.
  void Start(ZENTA_HttpAnswer* answer, bool headRequest, bool gzipAsked = false) {
    *this = AnswerHead();
    answer_ = answer;
    headRequest_ = headRequest;
    gzipAsked_ = gzipAsked;
  }

  // True when the body arrives gzip-encoded (and the transport decodes it): its Content-Length
  // counts encoded bytes.
  bool Gzipped() const { return gzipped_; }

  // One line as received, with or without its line end. ZENTA_OK, or ZENTA_E_PROTOCOL with
  // detail saying which rule the line broke; the answer must then be dropped.
  int Line(std::string_view line, Detail& detail);

  // True once the final head (status 200..599) has ended: the body follows.
  bool Complete() const { return complete_; }
  // True when the body comes in chunked coding (which the transport reads itself).
  bool Chunked() const { return chunked_; }
  // The announced body length, -1 when none was announced.
  long long Length() const { return length_; }
  // The status of the latest head read (an interim one until the final head has ended).
  int Status() const { return status_; }
  // True when the answer is an error status (400..599) whose body the connection's close ends.
  // Its content type is cleared, so that it is reported by its status and never handed over.
  bool CloseDelimited() const { return closeDelimited_; }

 private:
  enum class Field { kOther, kContentType, kContentLength, kTransferEncoding, kContentEncoding };

 public:
  // The seconds a Retry-After value asks for (delay-seconds, or an HTTP-date from now, never
  // less than 0), capped at a day; -1 when the value is neither.
  static int RetryAfterSeconds(std::string_view value, long long nowSeconds);

 private:
  int StatusLine(std::string_view line, Detail& detail);
  int HeadEnd(Detail& detail);
  int Header(std::string_view line, Detail& detail);
  int ContentLength(std::string_view value, Detail& detail);
  int TransferEncoding(std::string_view value, Detail& detail);
  int ContentEncoding(std::string_view value, Detail& detail);

  ZENTA_HttpAnswer* answer_ = nullptr;
  bool headRequest_ = false;
  bool gzipAsked_ = false;
  bool gzipped_ = false;
  bool inHead_ = false;    // a status line was read and its head has not ended
  bool complete_ = false;  // the final head ended; what follows is body, then trailers
  bool http10_ = false;
  bool chunked_ = false;
  bool closeDelimited_ = false;
  int status_ = 0;
  long long length_ = -1;
  Field last_ = Field::kOther;  // the field the previous line held, for a folded line
  bool hasField_ = false;       // the head has had a field line (a fold needs one before it)
  std::size_t bytes_ = 0;
};

}  // namespace zenta

#endif  // ZENTA_ANSWERHEAD_H
