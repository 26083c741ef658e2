#include "platform/Machine.h"

#include <limits>
#include <string>

#include "win32/Win32.h"

namespace tolvan::platform {

std::string MachineName() {
  DWORD size = 0;
  ::GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
  if (size == 0) {
    return {};
  }
  std::wstring name(size, L'\0');
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) {
    return {};
  }
  name.resize(size);
  return internal::Narrow(name);
}

std::uint64_t CurrentProcessId() {
  return ::GetCurrentProcessId();
}

bool ProcessExists(std::uint64_t id) {
  if (id == 0 || id > std::numeric_limits<DWORD>::max()) {
    return false;
  }
  // SYNCHRONIZE, to wait on it below.
  const HANDLE process =
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (process == nullptr) {
    // A process of another user, or a protected one, exists all the same.
    return ::GetLastError() == ERROR_ACCESS_DENIED;
  }
  // A process that ended stays openable while a handle to it is open somewhere.
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

}  // namespace tolvan::platform
