// The state of the fake Firebird client library: what a test scripts and what the library saw.
// Plain C data, so that a test reads it whatever C++ runtime the library was linked with.
#pragma once

#include <cstdint>

struct FakeFbClientState {
  // The message lines isc_interprete gives, one a call, after each isc_sqlcode.
  char lines[8][256];
  int line_count;
  int32_t sqlcode;
  // Non-zero: the call fails with this Firebird error code.
  intptr_t attach_error;
  intptr_t query_error;
  intptr_t detach_error;
  // What isc_service_query writes into the reply buffer (cut to the buffer's length).
  unsigned char reply[40000];
  int reply_length;
  // The handle a successful attach gives.
  uint32_t handle;

  // Calls seen, each name followed by ";".
  char calls[2048];
  char service_name[512];
  unsigned char spb[1024];
  int spb_length;
  unsigned char request[16];
  int request_length;
  int reply_buffer_length;
  uint32_t detached_handle;
};

// Exported by the library: its state, zeroed when loaded.
using FakeFbClientStateFn = FakeFbClientState* (*)();
