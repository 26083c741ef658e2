// Visibility of the platform library's symbols. The library comes in two builds:
// - shared (libtolvan_platform), the stand-in host's own: one state (test overrides, the message
//   sink, the environment overlay, the interrupt record) for tolvan, the host's libraries and
//   the tests;
// - static (tolvan_platform_static), a private copy linked into each plug-in (which then needs no
//   library of ours; its version script or export table keeps the copy inside it) and into the
//   fake tool, copied away from the build folder.
// Code that goes with either build (the support library, the plug-ins' work, which the tests link
// with the shared one) is compiled with TOLVAN_PLATFORM_NOT_IMPORTED: no import declarations,
// since MinGW's linker imports from the DLL on its own where the shared build is linked.
#pragma once

#if defined(_WIN32)
#if defined(TOLVAN_PLATFORM_BUILDING)
#define TOLVAN_PLATFORM_API __declspec(dllexport)
#elif defined(TOLVAN_PLATFORM_NOT_IMPORTED)
#define TOLVAN_PLATFORM_API
#else
#define TOLVAN_PLATFORM_API __declspec(dllimport)
#endif
#else
#define TOLVAN_PLATFORM_API __attribute__((visibility("default")))
#endif
