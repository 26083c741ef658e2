// Visibility of the platform library's symbols. The platform library is shared so that its state
// (test overrides, the message sink, the environment overlay) is one and the same for the host and
// every plug-in loaded into the process.
#pragma once

#if defined(_WIN32)
#if defined(TOLVAN_PLATFORM_BUILDING)
#define TOLVAN_PLATFORM_API __declspec(dllexport)
#else
#define TOLVAN_PLATFORM_API __declspec(dllimport)
#endif
#else
#define TOLVAN_PLATFORM_API __attribute__((visibility("default")))
#endif
