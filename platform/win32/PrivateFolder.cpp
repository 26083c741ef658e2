#include "platform/PrivateFolder.h"

#include <memory>

#include "win32/Win32.h"

// After windows.h (through Win32.h), which it needs.
#include <sddl.h>

namespace tolvan::platform {
namespace {

struct LocalFreeDeleter {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

// The current user's SID as text ("S-1-5-21-...").
std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    internal::ThrowWin32Error(::GetLastError(), "não foi possível ler o usuário do processo");
  }
  std::unique_ptr<void, decltype(&::CloseHandle)> token_owner(token, &::CloseHandle);
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::unique_ptr<char[]> buffer(new char[size]);
  if (!::GetTokenInformation(token, TokenUser, buffer.get(), size, &size)) {
    internal::ThrowWin32Error(::GetLastError(), "não foi possível ler o usuário do processo");
  }
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text)) {
    internal::ThrowWin32Error(::GetLastError(), "não foi possível ler o usuário do processo");
  }
  std::unique_ptr<wchar_t, LocalFreeDeleter> text_owner(text);
  return text;
}

}  // namespace

bool CreatePrivateFolder(const std::string& path) {
  // P: the list is protected, so the parent's inherited entries do not reach it; the user's one
  // entry is inherited by everything made inside (OICI), with full control (FA).
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + CurrentUserSid() + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    internal::ThrowWin32Error(::GetLastError(), "não foi possível criar a pasta privada " + path);
  }
  std::unique_ptr<void, LocalFreeDeleter> descriptor_owner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  // CreateDirectoryW fails on a name that exists, whatever stands there.
  if (::CreateDirectoryW(internal::Widen(path).c_str(), &attributes)) {
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS) {
    return false;
  }
  internal::ThrowWin32Error(error, "não foi possível criar a pasta privada " + path);
}

}  // namespace tolvan::platform
