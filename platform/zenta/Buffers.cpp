// Answer buffers: allocated and freed inside ZENTA, so a buffer that Ostrel hands to a client
// goes back to the heap it came from whatever runtime each module uses.
#include <zenta/ZentaSdk.h>

#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ZentaInternal.h"

namespace {

// Every outstanding answer, keyed by its first byte. A moved vector keeps its storage, so the
// pointer handed out stays valid while the entry lives.
class BufferRegistry {
 public:
  char* Keep(std::vector<char>&& body) {
    body.push_back('\0');
    std::lock_guard<std::mutex> lock(mutex_);
    char* first = body.data();
    buffers_.emplace(first, std::move(body));
    return first;
  }

  bool Release(const void* buffer) {
    std::vector<char> released;  // freed after the lock is dropped
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = buffers_.find(buffer);
    if (entry == buffers_.end()) return false;
    released = std::move(entry->second);
    buffers_.erase(entry);
    return true;
  }

  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return buffers_.size();
  }

 private:
  std::mutex mutex_;
  std::unordered_map<const void*, std::vector<char>> buffers_;
};

BufferRegistry& Registry() {
  static BufferRegistry registry;
  return registry;
}

}  // namespace

namespace zenta {

char* HandOverAnswer(std::vector<char>&& body) { return Registry().Keep(std::move(body)); }

std::size_t OutstandingAnswerBuffers() { return Registry().Count(); }

}  // namespace zenta

extern "C" ZENTA_API int ZENTA_ReleaseDataBuffer(void* buffer) {
  if (buffer == nullptr) return ZENTA_OK;
  return Registry().Release(buffer) ? ZENTA_OK : ZENTA_E_UNKNOWN_BUFFER;
}
