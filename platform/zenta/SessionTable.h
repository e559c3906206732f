// The handle table: which open session a handle names.
#ifndef ZENTA_SESSIONTABLE_H
#define ZENTA_SESSIONTABLE_H

#include <memory>

#include "Session.h"

namespace zenta {

// The session named by handle, or null. The caller's reference keeps the session alive until
// its call has returned, even when the session is closed meanwhile.
std::shared_ptr<Session> FindSession(int handle);

}  // namespace zenta

#endif  // ZENTA_SESSIONTABLE_H
