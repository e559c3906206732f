// What can be cancelled as a whole: a session's own scope or a scope opened under it, and what a
// call brings down through the layers so that a cancel reaches it wherever it waits.
#ifndef ZENTA_SCOPE_H
#define ZENTA_SCOPE_H

#include <zenta/ZentaSdk.h>

#include <atomic>
#include <memory>
#include <utility>

namespace zenta {

// A scope is cancelled once, for good, together with every scope under it. Reading whether it is
// costs an atomic load per level and takes no lock, so a call may ask as often as it waits.
class Scope {
 public:
  explicit Scope(std::shared_ptr<const Scope> parent = nullptr) : parent_(std::move(parent)) {}
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

  void Cancel() { cancelled_.store(true, std::memory_order_release); }

  // True when this scope or one above it was cancelled.
  bool Cancelled() const {
    for (const Scope* scope = this; scope != nullptr; scope = scope->parent_.get()) {
      if (scope->cancelled_.load(std::memory_order_acquire)) return true;
    }
    return false;
  }

  // True when ancestor is this scope or one above it.
  bool Under(const Scope& ancestor) const {
    for (const Scope* scope = this; scope != nullptr; scope = scope->parent_.get()) {
      if (scope == &ancestor) return true;
    }
    return false;
  }

 private:
  std::atomic<bool> cancelled_{false};
  const std::shared_ptr<const Scope> parent_;
};

// What one call brings to every layer besides its request: the scope it was started on, whose
// cancel ends it, and the callback told how much of its answer arrived. Borrowed for the call.
struct CallControl {
  const Scope* scope = nullptr;  // null: the call cannot be cancelled
  ZENTA_ProgressCallback progress = nullptr;
  void* progressContext = nullptr;
  // The highest count the progress callback was given: an answer that arrives again (sent once
  // more on a fresh connection) is not shown from 0 again. The calling thread's only.
  mutable long long progressShown = 0;

  bool Cancelled() const { return scope != nullptr && scope->Cancelled(); }
};

}  // namespace zenta

#endif  // ZENTA_SCOPE_H
