#include "platform/Files.h"

#include "common/FileCalls.h"
#include "win32/Win32.h"

namespace tolvan::platform {
namespace {

// Closes the handle on every way out.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) {
      ::CloseHandle(handle_);
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

 private:
  HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

void FlushFile(const std::string& path) {
  const Handle file(::CreateFileW(internal::Widen(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    internal::ThrowWin32Error(::GetLastError(),
                              "não foi possível abrir \"" + path + "\" para gravá-lo no disco");
  }
  internal::NoteFileCall("FlushFileBuffers", path);
  if (!::FlushFileBuffers(file.get())) {
    const DWORD error = ::GetLastError();
    throw FileNotFlushed(static_cast<int>(error), internal::Win32Category(),
                         "não foi possível gravar \"" + path + "\" no disco");
  }
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) {
    return ".";
  }
  // "C:\x" keeps its root, "C:\".
  return path.substr(0, slash == 0 || path[slash - 1] == ':' ? slash + 1 : slash);
}

// Not every file system lets a folder be flushed (FAT, some network shares): there the move's
// own write-through is what there is.
void FlushFolderWherePossible(const std::string& folder) {
  const Handle handle(::CreateFileW(internal::Widen(folder).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
  if (!handle.valid()) {
    return;
  }
  internal::NoteFileCall("FlushFileBuffers", folder);
  ::FlushFileBuffers(handle.get());
}

// ReplaceFileW keeps the replaced file's security, attributes and streams. Given a name for the
// replaced file, every failure leaves both files where they can be found: the old one is moved
// back if the call failed after moving it aside.
void ReplaceKeepingProtection(const std::string& source, const std::string& target) {
  const std::wstring wide_target = internal::Widen(target);
  const std::wstring aside = internal::Widen(source + ".old");
  internal::NoteFileCall("ReplaceFileW", source + " " + target);
  if (::ReplaceFileW(wide_target.c_str(), internal::Widen(source).c_str(), aside.c_str(), 0,
                     nullptr, nullptr)) {
    ::DeleteFileW(aside.c_str());
    return;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    ::MoveFileExW(aside.c_str(), wide_target.c_str(), MOVEFILE_WRITE_THROUGH);
  }
  internal::ThrowWin32Error(error,
                            "não foi possível renomear \"" + source + "\" para \"" + target + "\"");
}

}  // namespace

void CopyFileOverwriting(const std::string& source, const std::string& target) {
  if (!::CopyFileW(internal::Widen(source).c_str(), internal::Widen(target).c_str(), FALSE)) {
    internal::ThrowWin32Error(::GetLastError(),
                              "não foi possível copiar \"" + source + "\" para \"" + target + "\"");
  }
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileW(internal::Widen(path).c_str()) != 0;
}

bool FileExists(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(internal::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool PathEntryExists(const std::string& path) {
  // The attributes of a link are its own; the call does not follow it.
  return ::GetFileAttributesW(internal::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsPlainFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(internal::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool IsLink(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(internal::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool CreateNewFile(const std::string& path) {
  const HANDLE file = ::CreateFileW(internal::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
      return false;
    }
    internal::ThrowWin32Error(error, "não foi possível criar \"" + path + "\"");
  }
  ::CloseHandle(file);
  return true;
}

FileHold CreateHeldFile(const std::string& path) {
  // No data access of its own, so that the tool may open the file with whatever sharing it asks
  // for. The tool's own handle, which does not share deletion, is what keeps other runs from
  // removing the file while it writes.
  const HANDLE file = ::CreateFileW(internal::Widen(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
      return kNoFileHold;
    }
    internal::ThrowWin32Error(error, "não foi possível criar \"" + path + "\"");
  }
  return reinterpret_cast<FileHold>(file);
}

void ReleaseFileHold(FileHold hold) {
  if (hold != kNoFileHold) {
    ::CloseHandle(reinterpret_cast<HANDLE>(hold));
  }
}

bool RemoveUnheldFile(const std::string& path) {
  if (!IsPlainFile(path)) {
    return false;
  }
  // A file some process holds open without delete sharing cannot be removed.
  return ::DeleteFileW(internal::Widen(path).c_str()) != 0;
}

void ReleaseFileHoldForRename(FileHold& hold) {
  // Renaming needs the delete access that the hold does not share.
  ReleaseFileHold(hold);
  hold = kNoFileHold;
}

bool MakeReadOnly(const std::string& path) {
  const std::wstring wide = internal::Widen(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         ::SetFileAttributesW(wide.c_str(), attributes | FILE_ATTRIBUTE_READONLY) != 0;
}

void RenameReplacing(const std::string& source, const std::string& target) {
  if (!::MoveFileExW(internal::Widen(source).c_str(), internal::Widen(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    internal::ThrowWin32Error(
        ::GetLastError(), "não foi possível renomear \"" + source + "\" para \"" + target + "\"");
  }
}

void ReplaceDurably(const std::string& source, const std::string& target) {
  FlushFile(source);
  const DWORD attributes = ::GetFileAttributesW(internal::Widen(target).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
    ReplaceKeepingProtection(source, target);
  } else {
    // Nothing to keep: a new name, or a link that is replaced itself.
    const DWORD replace = attributes == INVALID_FILE_ATTRIBUTES ? 0 : MOVEFILE_REPLACE_EXISTING;
    internal::NoteFileCall("MoveFileExW", source + " " + target);
    if (!::MoveFileExW(internal::Widen(source).c_str(), internal::Widen(target).c_str(),
                       replace | MOVEFILE_WRITE_THROUGH)) {
      const DWORD error = ::GetLastError();
      if (replace == 0 && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
        // Another run put a file there meanwhile: it is replaced keeping its protection.
        ReplaceKeepingProtection(source, target);
      } else {
        internal::ThrowWin32Error(
            error, "não foi possível renomear \"" + source + "\" para \"" + target + "\"");
      }
    }
  }
  FlushFolderWherePossible(FolderOf(target));
}

}  // namespace tolvan::platform
