// Answer text through every operation's reader, over the fake gateway. The first byte picks the
// gateway's behaviour (status, null answer, negative length, auxBuffer); the rest is the answer.
// Only the exceptions the operations document may leave them, and every buffer must come back
// exactly once. The answer also goes through quim alone: whatever parses is written, and that
// text parses again to an equal tree that writes to the same text. And it goes through quim's two
// readers apart: the fast one must refuse whatever rapidjson's refuses and build the same tree
// where it accepts, for the text with its size and, without a NUL byte in it, NUL-terminated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>

#include "FakeGateway.h"
#include "OperationCalls.h"
#include "ReaderPaths.h"
#include "quim/Json.h"
#include "quim/Vantrix.h"

namespace {

// Aborts unless the fast reader, where it accepts the text, agrees with rapidjson's: accepted
// there too, an equal tree with its members in the same order.
void CheckReaders(const std::string& answer, bool terminated) {
  namespace detail = quim::Json::detail;
  const std::size_t size = answer.size();
  const std::size_t* sized = terminated ? nullptr : &size;
  quim::Json::Value fast, full;
  if (!detail::ReadFastOnly(answer.c_str(), sized, fast)) return;
  if (!detail::ReadRapidjsonOnly(answer.c_str(), sized, full, nullptr) || !(fast == full) ||
      quim::Json::Write(fast) != quim::Json::Write(full)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using corvane_test::FakeGateway;
  quim::Vantrix::instance().SetSink([](const quim::LogRecord&) {});
  const int mode = size > 0 ? data[0] : 0;
  const std::string answer(reinterpret_cast<const char*>(data) + (size > 0), size - (size > 0));
  CheckReaders(answer, false);
  if (answer.find('\0') == std::string::npos) CheckReaders(answer, true);
  quim::Json::Value root, again;
  if (quim::Json::Parse(answer, root)) {
    const std::string text = quim::Json::Write(root);
    if (!quim::Json::Parse(text, again) || !(again == root) || quim::Json::Write(again) != text) {
      std::abort();
    }
  }
  for (const Corvane::Call& call : Corvane::Calls()) {
    FakeGateway::Instance().Reset();
    FakeGateway::Instance().Script(
        {(mode & 7) == 7 ? -12 : 0, (mode & 7) == 6 ? std::nullopt : std::optional(answer),
         (mode & 7) == 5 ? std::optional(-1) : std::nullopt, (mode & 8) != 0});
    Corvane::Outputs out;
    try {
      call.run(out);
    } catch (const quim::Json::Error&) {
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
    for (corvane_test::Release release : FakeGateway::Instance().Releases()) {
      if (release == corvane_test::Release::kUnknown) std::abort();  // released twice
    }
    if (FakeGateway::Instance().OutstandingBuffers() != 0) std::abort();  // one not given back
  }
  Corvane::DownloadDevicePicResp picture;
  FakeGateway::Instance().Script({0, answer, (mode & 7) == 5 ? -1 : int(answer.size()), false});
  Corvane::API_DownloadDevicePicture(1, {0, "p"}, picture);
  delete[] picture.pictureData;
  if (FakeGateway::Instance().OutstandingBuffers() != 0) std::abort();
  return 0;
}
