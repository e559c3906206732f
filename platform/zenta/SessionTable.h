// The handle table: which open session or scope a handle names.
#ifndef ZENTA_SESSIONTABLE_H
#define ZENTA_SESSIONTABLE_H

#include <zenta/ZentaSdk.h>

#include <memory>

#include "Scope.h"
#include "Session.h"

namespace zenta {

// What a call needs of its handle: the session that carries it, the scope whose cancel ends it,
// and the handle's progress callback. The references keep the session and the scope alive until
// the call has returned, even when its handle is closed meanwhile.
struct CallTarget {
  std::shared_ptr<Session> session;
  std::shared_ptr<const Scope> scope;
  ZENTA_ProgressCallback progress = nullptr;
  void* progressContext = nullptr;

  CallControl Control() const {
    CallControl control;
    control.scope = scope.get();
    control.progress = progress;
    control.progressContext = progressContext;
    return control;
  }
};

// Fills target for the session or scope named by handle; false when it names none.
bool FindCall(int handle, CallTarget& target);

// Enters a newly opened session and writes its handle: ZENTA_OK or ZENTA_E_HANDLES_EXHAUSTED.
int AddSession(std::shared_ptr<Session> session, int& handle);

}  // namespace zenta

#endif  // ZENTA_SESSIONTABLE_H
