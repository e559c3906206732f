// Gateway sessions and scopes that close themselves, for callers of Corvane.h and of CorvaneCxx.h
// alike (it needs only the gateway's C functions of zenta/ZentaSdk.h and the standard library).
//
//   Corvane::Session session("https://vms.example:8443", options);  // ZENTA_OpenSession
//   Corvane::Scope view(session);        // one scope per view of the application
//   Corvane::API_GetPosConfig(view.Handle(), playbackTime);
//   ...
//   view.Cancel();                       // on close: calls in flight end with ZENTA_E_CANCELLED
//
// A Scope's handle works wherever a session's does and shares its session's options, credentials
// and connections; cancelling or closing it leaves its parent untouched. A session closes its
// scopes with it. Closing never waits for calls in flight: they end with ZENTA_E_CANCELLED.
// Failures throw Corvane::SessionError, a std::runtime_error that carries the gateway's code.
//
// Threads: Cancel may be called from any thread while calls run on the handle; destroy a Session
// or a Scope once no thread will start a call on its handle any more (calls that start later get
// ZENTA_E_UNKNOWN_HANDLE).
#ifndef CORVANE_CORVANESESSION_H
#define CORVANE_CORVANESESSION_H

#include <stdexcept>
#include <string>
#include <utility>

#include "zenta/ZentaSdk.h"

namespace Corvane {

// A failed session or scope function: Code() is the gateway's code, what() names the function
// and says what the code means (ZENTA_ErrorText).
class SessionError : public std::runtime_error {
 public:
  SessionError(const char* function, int code)
      : std::runtime_error(std::string(function) + ": " + ZENTA_ErrorText(code) + " (status " +
                           std::to_string(code) + ")"),
        code_(code) {}
  int Code() const noexcept { return code_; }

 private:
  int code_;
};

namespace detail {

inline void Succeeded(const char* function, int code) {
  if (code != ZENTA_OK) throw SessionError(function, code);
}

// A gateway handle that one owner releases with close; movable, not copyable. (close is kept
// as a value: the address of a function imported from a DLL is no constant.)
class OwnedHandle {
 public:
  explicit OwnedHandle(int (*close)(int)) noexcept : close_(close) {}
  OwnedHandle(OwnedHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, 0)), close_(other.close_) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Release();
      handle_ = std::exchange(other.handle_, 0);
      close_ = other.close_;
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { Release(); }

  // The handle to pass to the operations; 0 once moved from.
  int Handle() const noexcept { return handle_; }

 protected:
  int handle_ = 0;

 private:
  void Release() noexcept {
    if (handle_ != 0) close_(handle_);  // returns at once; nothing to report from a destructor
    handle_ = 0;
  }
  int (*close_)(int);
};

}  // namespace detail

// A session on one server (ZENTA_OpenSession), closed by its destructor (ZENTA_CloseSession).
class Session : public detail::OwnedHandle {
 public:
  // options: null for every default; else structSize = sizeof(ZENTA_SessionOptions) and the
  // fields wanted (the gateway copies what it keeps). Throws SessionError.
  explicit Session(const std::string& serverUrl, const ZENTA_SessionOptions* options = nullptr)
      : OwnedHandle(&ZENTA_CloseSession) {
    detail::Succeeded("ZENTA_OpenSession", ZENTA_OpenSession(serverUrl.c_str(), options, &handle_));
  }
  Session(const std::string& serverUrl, const ZENTA_SessionOptions& options)
      : Session(serverUrl, &options) {}

  // Ends every call in flight on the session and its scopes and refuses later ones
  // (ZENTA_CancelScope); the session stays open until destroyed. Throws SessionError.
  void Cancel() const { detail::Succeeded("ZENTA_CancelScope", ZENTA_CancelScope(handle_)); }
};

// A scope (ZENTA_OpenScope) under a session or under another scope, closed by its destructor
// (ZENTA_CloseScope).
class Scope : public detail::OwnedHandle {
 public:
  // Throws SessionError.
  explicit Scope(const Session& parent) : Scope(parent.Handle()) {}
  // parentHandle: a session's or a scope's handle. Throws SessionError.
  explicit Scope(int parentHandle) : OwnedHandle(&ZENTA_CloseScope) {
    detail::Succeeded("ZENTA_OpenScope", ZENTA_OpenScope(parentHandle, &handle_));
  }
  // A scope under this one: cancelling this one cancels it too. Throws SessionError.
  Scope Child() const { return Scope(handle_); }

  // Ends every call in flight on the scope and the scopes under it within 100 ms with
  // ZENTA_E_CANCELLED; later calls on them end at once with that code and send nothing.
  // Throws SessionError.
  void Cancel() const { detail::Succeeded("ZENTA_CancelScope", ZENTA_CancelScope(handle_)); }
};

}  // namespace Corvane

#endif  // CORVANE_CORVANESESSION_H
