// What the gateway's tests reach inside ZENTA, over its C boundary (Boundary.h). Not installed.
#ifndef ZENTA_ZENTAINTERNAL_H
#define ZENTA_ZENTAINTERNAL_H

#include <cstddef>

#include "Boundary.h"

namespace zenta {

// Number of answer buffers handed over and not yet released.
inline std::size_t OutstandingAnswerBuffers() { return ZENTA_OutstandingAnswerBuffers(); }

}  // namespace zenta

#endif  // ZENTA_ZENTAINTERNAL_H
