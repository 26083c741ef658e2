// Symbol visibility for the host libraries and the plug-ins. The only place outside platform/
// that knows which operating system it is built for.
#pragma once

#if defined(_WIN32)
#define TOLVAN_DLL_EXPORT __declspec(dllexport)
#define TOLVAN_DLL_IMPORT __declspec(dllimport)
#else
#define TOLVAN_DLL_EXPORT __attribute__((visibility("default")))
#define TOLVAN_DLL_IMPORT __attribute__((visibility("default")))
#endif

// The toolkit library (VeskPackBase5).
#if defined(VESKPACKBASE5_BUILDING)
#define VESKBASE_API TOLVAN_DLL_EXPORT
#else
#define VESKBASE_API TOLVAN_DLL_IMPORT
#endif

// The connection objects library (VeskPack5).
#if defined(VESKPACK5_BUILDING)
#define VESKPACK_API TOLVAN_DLL_EXPORT
#else
#define VESKPACK_API TOLVAN_DLL_IMPORT
#endif
