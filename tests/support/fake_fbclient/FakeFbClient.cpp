// A stand-in for the Firebird client library: the status-vector and Services API entry points
// the plug-in looks up, answering as the test scripts them through FakeFbClientState.
#include "FakeFbClient.h"

#include <cstring>

#include "tolvan/Visibility.h"

namespace {

FakeFbClientState g_state;
int g_next_line = 0;

void Record(const char* call) {
  const std::size_t used = std::strlen(g_state.calls);
  const std::size_t len = std::strlen(call);
  if (used + len + 2 < sizeof g_state.calls) {
    std::memcpy(g_state.calls + used, call, len);
    g_state.calls[used + len] = ';';
    g_state.calls[used + len + 1] = '\0';
  }
}

intptr_t Answer(intptr_t* status, intptr_t error) {
  status[0] = 1;
  status[1] = error;
  status[2] = 0;
  return error;
}

}  // namespace

extern "C" {

TOLVAN_DLL_EXPORT FakeFbClientState* fake_fbclient_state() {
  return &g_state;
}

TOLVAN_DLL_EXPORT int32_t isc_sqlcode(const intptr_t* /*status*/) {
  Record("isc_sqlcode");
  g_next_line = 0;
  return g_state.sqlcode;
}

TOLVAN_DLL_EXPORT void isc_sql_interprete(int16_t /*sqlcode*/, char* buffer, int16_t length) {
  Record("isc_sql_interprete");
  if (length > 0) {
    buffer[0] = '\0';
  }
}

#ifndef FAKE_WITHOUT_INTERPRETE
TOLVAN_DLL_EXPORT int32_t isc_interprete(char* buffer, intptr_t** cursor) {
  Record("isc_interprete");
  if (g_next_line >= g_state.line_count || g_next_line >= 8) {
    return 0;
  }
  const char* line = g_state.lines[g_next_line++];
  std::strcpy(buffer, line);
  *cursor += 2;
  return static_cast<int32_t>(std::strlen(line));
}
#endif

TOLVAN_DLL_EXPORT intptr_t isc_service_attach(intptr_t* status, uint16_t name_length,
                                              const char* name, uint32_t* handle,
                                              uint16_t spb_length, const char* spb) {
  Record("isc_service_attach");
  const std::size_t n =
      name_length < sizeof g_state.service_name ? name_length : sizeof g_state.service_name - 1;
  std::memcpy(g_state.service_name, name, n);
  g_state.service_name[n] = '\0';
  g_state.spb_length = spb_length < sizeof g_state.spb ? spb_length : sizeof g_state.spb;
  std::memcpy(g_state.spb, spb, static_cast<std::size_t>(g_state.spb_length));
  if (g_state.attach_error != 0) {
    return Answer(status, g_state.attach_error);
  }
  *handle = g_state.handle;
  return Answer(status, 0);
}

#ifndef FAKE_WITHOUT_QUERY
TOLVAN_DLL_EXPORT intptr_t isc_service_query(intptr_t* status, uint32_t* /*handle*/,
                                             uint32_t* /*reserved*/, uint16_t /*send_length*/,
                                             const char* /*send*/, uint16_t request_length,
                                             const char* request, uint16_t buffer_length,
                                             char* buffer) {
  Record("isc_service_query");
  g_state.request_length = request_length < sizeof g_state.request ? request_length : 16;
  std::memcpy(g_state.request, request, static_cast<std::size_t>(g_state.request_length));
  g_state.reply_buffer_length = buffer_length;
  if (g_state.query_error != 0) {
    return Answer(status, g_state.query_error);
  }
  const int n = g_state.reply_length < buffer_length ? g_state.reply_length : buffer_length;
  std::memcpy(buffer, g_state.reply, static_cast<std::size_t>(n));
  return Answer(status, 0);
}
#endif

TOLVAN_DLL_EXPORT intptr_t isc_service_detach(intptr_t* status, uint32_t* handle) {
  Record("isc_service_detach");
  g_state.detached_handle = *handle;
  if (g_state.detach_error != 0) {
    return Answer(status, g_state.detach_error);
  }
  *handle = 0;
  return Answer(status, 0);
}

// As the client decodes them: little-endian, the last byte signed.
TOLVAN_DLL_EXPORT int32_t isc_vax_integer(const char* ptr, int16_t length) {
  if (ptr == nullptr || length <= 0 || length > 4) {
    return 0;
  }
  int32_t value = 0;
  int shift = 0;
  for (int i = 0; i + 1 < length; ++i) {
    value += static_cast<int32_t>(static_cast<unsigned char>(ptr[i])) << shift;
    shift += 8;
  }
  value += static_cast<int32_t>(static_cast<uint32_t>(static_cast<signed char>(ptr[length - 1]))
                                << shift);
  return value;
}

}  // extern "C"
