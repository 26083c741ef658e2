// The Firebird client library as the plug-in calls it: the types, entry points and constants of its
// C interface that the plug-in uses, and the one way the plug-in loads it. The entry points are
// looked up by name at run time, so no import library and no header of the client is needed.
#pragma once

#include <cstdint>
#include <string>

namespace tolvan::platform {
class DynamicLibrary;
}  // namespace tolvan::platform

namespace tolvan::firebird {

// ISC_STATUS: a signed integer as wide as a pointer in the 64-bit client.
using IscStatus = intptr_t;
// FB_API_HANDLE of the 64-bit client; zero when nothing is attached.
using IscHandle = uint32_t;
inline constexpr int kStatusVectorLength = 20;

// The entry points, each named after the function it calls.
using IscSqlCodeFn = int32_t (*)(const IscStatus*);
using IscSqlInterpreteFn = void (*)(int16_t, char*, int16_t);
using IscInterpreteFn = int32_t (*)(char*, IscStatus**);
using IscVaxIntegerFn = int32_t (*)(const char*, int16_t);
using IscAttachDatabaseFn = IscStatus (*)(IscStatus*, int16_t, const char*, IscHandle*, int16_t,
                                          const char*);
// isc_detach_database, isc_drop_database, isc_rollback_transaction, isc_service_detach.
using IscHandleFn = IscStatus (*)(IscStatus*, IscHandle*);
using IscStartTransactionFn = IscStatus (*)(IscStatus*, IscHandle*, int16_t, ...);
using IscExecuteImmediateFn = IscStatus (*)(IscStatus*, IscHandle*, IscHandle*, uint16_t,
                                            const char*, uint16_t, const void*);
using IscServiceAttachFn = IscStatus (*)(IscStatus*, uint16_t, const char*, IscHandle*, uint16_t,
                                         const char*);
using IscServiceQueryFn = IscStatus (*)(IscStatus*, IscHandle*, IscHandle*, uint16_t, const char*,
                                        uint16_t, const char*, uint16_t, char*);

namespace isc {

// The kinds of entry in a status vector.
inline constexpr IscStatus kArgEnd = 0;
inline constexpr IscStatus kArgGds = 1;
inline constexpr IscStatus kArgCstring = 3;
inline constexpr IscStatus kArgInterpreted = 5;
inline constexpr IscStatus kArgUnix = 7;
inline constexpr IscStatus kArgWin32 = 17;

// Error codes.
inline constexpr IscStatus kIoError = 335544344;
inline constexpr IscStatus kShutdown = 335544528;
inline constexpr IscStatus kIoOpenError = 335544734;
inline constexpr IscStatus kDivideByZero = 335544778;

// Database parameter block.
inline constexpr char kDpbVersion1 = 1;
inline constexpr char kDpbUserName = 28;
inline constexpr char kDpbPassword = 29;
inline constexpr char kDpbConnectTimeout = 57;
// Says that the block's texts and the database name are UTF-8.
inline constexpr char kDpbUtf8Filename = 77;

// Service parameter block.
inline constexpr char kSpbVersion = 2;
inline constexpr char kSpbCurrentVersion = 2;

// The server database information request and the items of its reply.
inline constexpr unsigned char kInfoSvrDbInfo = 50;
inline constexpr unsigned char kSpbNumAtt = 5;
inline constexpr unsigned char kSpbNumDb = 6;
inline constexpr unsigned char kSpbDbName = 106;
inline constexpr unsigned char kInfoFlagEnd = 127;

inline constexpr uint16_t kSqlDialect3 = 3;

}  // namespace isc

// A numeric entry of a parameter block: the tag, 4 and the value in 4 bytes, low byte first.
inline void AppendNumber(std::string& block, char tag, uint32_t value) {
  block += tag;
  block += static_cast<char>(4);
  for (int i = 0; i < 4; ++i) {
    block += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

// The client library of that name (a bare name goes through the system's search order), loaded at
// its first use and kept loaded for the rest of the process. Never unloaded: the client starts
// threads of its own (its embedded engine more), which outlive any one call and would go on
// running in unmapped code. At exit every client in the process, whoever loaded it, is shut down
// before any of them runs its own exit work. Throws std::system_error when it cannot be loaded.
const tolvan::platform::DynamicLibrary& LoadClientLibrary(const std::string& name);

}  // namespace tolvan::firebird
