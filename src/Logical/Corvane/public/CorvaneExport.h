/* Export macro and version of the Corvane library (Corvane.dll / libCorvane.so); C and C++. */
#ifndef CORVANE_CORVANEEXPORT_H
#define CORVANE_CORVANEEXPORT_H

/* The version of these headers; corvane_version() gives the version of the library loaded. The
 * build checks that they agree with the project's version (cmake/Version.cmake). */
#define CORVANE_VERSION_MAJOR 0
#define CORVANE_VERSION_MINOR 1
#define CORVANE_VERSION_PATCH 0

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
