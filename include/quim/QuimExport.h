// Export macro of the quim base library (libquim.dll / libquim.so).
#ifndef QUIM_QUIMEXPORT_H
#define QUIM_QUIMEXPORT_H

#if defined(QUIM_STATIC)  // a static library: nothing to export or import
#define QUIM_API
#elif defined(_WIN32)
#if defined(QUIM_BUILDING)
#define QUIM_API __declspec(dllexport)
#else
#define QUIM_API __declspec(dllimport)
#endif
#else
#define QUIM_API __attribute__((visibility("default")))
#endif

#endif  // QUIM_QUIMEXPORT_H
