/* Export macro of the Corvane library (Corvane.dll / libCorvane.so); C and C++. */
#ifndef CORVANE_CORVANEEXPORT_H
#define CORVANE_CORVANEEXPORT_H

#if defined(CORVANE_STATIC) /* a static library: nothing to export or import */
#define CORVANE_API
#elif defined(_WIN32)
#if defined(CORVANE_BUILDING)
#define CORVANE_API __declspec(dllexport)
#else
#define CORVANE_API __declspec(dllimport)
#endif
#else
#define CORVANE_API __attribute__((visibility("default")))
#endif

#endif /* CORVANE_CORVANEEXPORT_H */
