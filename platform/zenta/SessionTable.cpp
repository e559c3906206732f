// The handle table, and what the application does with its handles: closing a session, opening,
// cancelling and closing scopes, progress callbacks.
#include "SessionTable.h"

#include <atomic>
#include <climits>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zenta {
namespace {

// What a handle names: a session with its own scope, or a scope opened under one.
struct Entry {
  std::shared_ptr<Session> session;
  std::shared_ptr<Scope> scope;
  bool isSession = false;
  ZENTA_ProgressCallback progress = nullptr;
  void* progressContext = nullptr;
};

class SessionTable {
 public:
  // Writes a fresh handle; handles count up from 1 and are never given out twice.
  int Add(Entry entry, int& handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return AddLocked(std::move(entry), handle);
  }

  // A new scope under the session or scope parent names, in one step with the look-up, so that
  // a scope is never entered under a parent closed meanwhile.
  int OpenScope(int parent, int& handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto named = entries_.find(parent);
    if (named == entries_.end()) return ZENTA_E_UNKNOWN_HANDLE;
    Entry entry;
    entry.session = named->second.session;
    entry.scope = std::make_shared<Scope>(named->second.scope);
    return AddLocked(std::move(entry), handle);
  }

  bool Find(int handle, Entry& found) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = entries_.find(handle);
    if (entry == entries_.end()) return false;
    found = entry->second;
    return true;
  }

  bool FindCall(int handle, CallTarget& target) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = entries_.find(handle);
    if (entry == entries_.end()) return false;
    target.session = entry->second.session;
    target.scope = entry->second.scope;
    target.progress = entry->second.progress;
    target.progressContext = entry->second.progressContext;
    return true;
  }

  bool SetProgress(int handle, ZENTA_ProgressCallback callback, void* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = entries_.find(handle);
    if (entry == entries_.end()) return false;
    entry->second.progress = callback;
    entry->second.progressContext = context;
    return true;
  }

  // Removes the session or the scope handle names (asSession tells which it must be) with every
  // scope under it, into removed: its own entry first. False when handle names no such thing.
  bool Remove(int handle, bool asSession, std::vector<Entry>& removed) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto named = entries_.find(handle);
    if (named == entries_.end() || named->second.isSession != asSession) return false;
    removed.reserve(entries_.size());  // nothing below allocates: all of it or nothing is removed
    removed.push_back(std::move(named->second));
    entries_.erase(named);
    const Scope& top = *removed.front().scope;
    for (auto entry = entries_.begin(); entry != entries_.end();) {
      if (entry->second.scope->Under(top)) {
        removed.push_back(std::move(entry->second));
        entry = entries_.erase(entry);
      } else {
        ++entry;
      }
    }
    return true;
  }

  // Keeps a session a forked child closed: its connections are the parent's and must be neither
  // used nor shut down here, so they are never freed in this process.
  void KeepInherited(std::shared_ptr<Session> session) {
    std::lock_guard<std::mutex> lock(mutex_);
    inherited_.push_back(std::move(session));
  }

 private:
  int AddLocked(Entry entry, int& handle) {
    const long long next = nextHandle_.fetch_add(1);
    if (next > INT_MAX) return ZENTA_E_HANDLES_EXHAUSTED;
    entries_.emplace(static_cast<int>(next), std::move(entry));
    handle = static_cast<int>(next);
    return ZENTA_OK;
  }

  std::atomic<long long> nextHandle_{1};
  std::mutex mutex_;
  std::unordered_map<int, Entry> entries_;
  std::vector<std::shared_ptr<Session>> inherited_;
};

// Never destroyed: sessions left open at exit keep their connections to the end, and a forked
// child's exit must not close the connections it inherited.
SessionTable& Table() {
  static SessionTable* table = new SessionTable;
  return *table;
}

// Cancels a scope and wakes the calls of its session that wait on a condition, so that each
// looks at its own scope again.
void CancelEntry(const Entry& entry) {
  entry.scope->Cancel();
  entry.session->Wake();
}

}  // namespace

bool FindCall(int handle, CallTarget& target) { return Table().FindCall(handle, target); }

int AddSession(std::shared_ptr<Session> session, int& handle) {
  Entry entry;
  entry.session = std::move(session);
  entry.scope = std::make_shared<Scope>();
  entry.isSession = true;
  return Table().Add(std::move(entry), handle);
}

}  // namespace zenta

extern "C" {

ZENTA_API int ZENTA_CloseSession(int handle) {
  std::vector<zenta::Entry> removed;  // freed last, outside the table's lock
  try {
    if (!zenta::Table().Remove(handle, true, removed)) return ZENTA_E_UNKNOWN_HANDLE;
  } catch (const std::bad_alloc&) {
    return ZENTA_E_NO_MEMORY;
  }
  const zenta::Entry& own = removed.front();
  if (own.session->Inherited()) {
    zenta::Table().KeepInherited(own.session);
    return ZENTA_OK;
  }
  own.scope->Cancel();   // and with it every scope under the session
  own.session->Close();  // wakes the calls that wait
  return ZENTA_OK;
}

ZENTA_API int ZENTA_OpenScope(int parent, int* scope) {
  if (scope == nullptr) return ZENTA_E_NULL_ARGUMENT;
  *scope = 0;
  try {
    return zenta::Table().OpenScope(parent, *scope);
  } catch (const std::bad_alloc&) {
    return ZENTA_E_NO_MEMORY;
  }
}

ZENTA_API int ZENTA_CancelScope(int handle) {
  zenta::Entry entry;
  if (!zenta::Table().Find(handle, entry)) return ZENTA_E_UNKNOWN_HANDLE;
  zenta::CancelEntry(entry);
  return ZENTA_OK;
}

ZENTA_API int ZENTA_CloseScope(int scope) {
  std::vector<zenta::Entry> removed;
  try {
    if (!zenta::Table().Remove(scope, false, removed)) return ZENTA_E_UNKNOWN_HANDLE;
  } catch (const std::bad_alloc&) {
    return ZENTA_E_NO_MEMORY;
  }
  zenta::CancelEntry(removed.front());
  return ZENTA_OK;
}

ZENTA_API int ZENTA_SetProgressCallback(int handle, ZENTA_ProgressCallback callback,
                                        void* context) {
  return zenta::Table().SetProgress(handle, callback, context) ? ZENTA_OK : ZENTA_E_UNKNOWN_HANDLE;
}

}  // extern "C"
