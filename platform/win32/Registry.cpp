#include "common/Registry.h"

#include <cstring>
#include <vector>

#include "win32/Win32.h"

namespace tolvan::platform {
namespace {

class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != nullptr) {
      ::RegCloseKey(key_);
    }
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

std::wstring Expand(const std::wstring& text) {
  DWORD length = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (length == 0) {
    return text;
  }
  std::wstring expanded(length, L'\0');
  length = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), length);
  expanded.resize(length > 0 ? length - 1 : 0);
  return expanded;
}

}  // namespace

namespace internal {

std::optional<std::string> ReadSystemRegistryString(RegistryRoot root, const std::string& key,
                                                    const std::string& value_name) {
  HKEY base = root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  Key opened;
  if (::RegOpenKeyExW(base, internal::Widen(key).c_str(), 0, KEY_QUERY_VALUE, opened.out()) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring name = internal::Widen(value_name);
  std::vector<BYTE> data(512);
  DWORD type = 0;
  LONG result;
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    result = ::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, data.data(), &size);
    if (result == ERROR_MORE_DATA) {
      data.resize(size + sizeof(wchar_t));
      continue;
    }
    data.resize(size);
    break;
  }
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') {
    text.pop_back();
  }
  if (type == REG_EXPAND_SZ) {
    text = Expand(text);
  }
  return internal::Narrow(text);
}

}  // namespace internal

}  // namespace tolvan::platform
