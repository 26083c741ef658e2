// The plug-in's status vector and the Firebird error text built from it by the client library.
#include <cerrno>
#include <stdexcept>
#include <string>

#include "TolvanFirebirdUtil.h"
#include "platform/DynamicLibrary.h"
#include "platform/Text.h"

namespace tolvan::firebird {
namespace {

constexpr std::size_t kMessageBufferLength = 20480;

IscStatus g_status[kStatusVectorLength] = {};
const tolvan::platform::DynamicLibrary* g_library = nullptr;

// Filled only when all three entry points were found.
struct EntryPoints {
  IscSqlCodeFn sqlcode = nullptr;
  IscSqlInterpreteFn sql_interprete = nullptr;
  IscInterpreteFn interprete = nullptr;
};
EntryPoints g_entry_points;

bool EntryPointsFilled() {
  return g_entry_points.sqlcode != nullptr && g_entry_points.sql_interprete != nullptr &&
         g_entry_points.interprete != nullptr;
}

// The loader's own last error where it keeps one (Windows); POSIX symbol look-ups set none, so
// a missing entry reads as "no such file" there rather than as whatever errno held.
[[noreturn]] void ThrowMissing(const std::string& what) {
  errno = ENOENT;
  tolvan::platform::ThrowLastError(what);
}

void LookUpEntryPoints() {
  if (g_library == nullptr) {
    ThrowMissing("A biblioteca cliente do Firebird não está carregada");
  }
  EntryPoints found;
  for (const char* name : {"isc_sqlcode", "isc_sql_interprete", "isc_interprete"}) {
    if (g_library->Symbol(name) == nullptr) {
      ThrowMissing(std::string("A biblioteca cliente do Firebird não tem a função ") + name);
    }
  }
  found.sqlcode = g_library->Function<IscSqlCodeFn>("isc_sqlcode");
  found.sql_interprete = g_library->Function<IscSqlInterpreteFn>("isc_sql_interprete");
  found.interprete = g_library->Function<IscInterpreteFn>("isc_interprete");
  g_entry_points = found;
}

}  // namespace

IscStatus* StatusVector() {
  return g_status;
}

void SetErrorTextLibrary(const tolvan::platform::DynamicLibrary* library) {
  g_library = library;
}

void ForgetErrorTextEntryPoints() {
  g_entry_points = EntryPoints{};
}

std::string FirebirdErrorText(const IscStatus* status, IscSqlCodeFn sqlcode,
                              IscInterpreteFn interprete) {
  const IscStatus error_code = status[1];
  const int32_t sql_code = sqlcode(status);

  std::string text;
  std::string buffer(kMessageBufferLength, '\0');
  // The client only reads through the cursor; the cast follows its older, non-const signature.
  IscStatus* cursor = const_cast<IscStatus*>(status);
  // Each line uses at least two entries of the vector, so a client that never stops is cut off.
  for (int line = 0; line < kStatusVectorLength; ++line) {
    buffer[0] = '\0';
    if (interprete(buffer.data(), &cursor) <= 0) {
      break;
    }
    buffer.back() = '\0';
    if (!text.empty() && text.back() != '\n') {
      text += "\r\n";
    }
    text += tolvan::platform::FromSystemCodePage(buffer.c_str());
  }
  if (!text.empty() && text.back() == '.') {
    text.pop_back();
  }
  return text + " sqlcode:" + std::to_string(sql_code) +
         " IBErrorCode:" + std::to_string(error_code);
}

int32_t CheckStatus(int32_t result, bool raise) {
  if (!raise || result <= 0) {
    return result;
  }
  if (!EntryPointsFilled()) {
    LookUpEntryPoints();
  }
  throw std::runtime_error(
      FirebirdErrorText(g_status, g_entry_points.sqlcode, g_entry_points.interprete));
}

}  // namespace tolvan::firebird
