// The host toolkit: text tokens, files, processes, file versions, dialogs and the log.
// Implemented by the host (host/VeskPackBase5); the plug-ins call it by these names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "tolvan/Visibility.h"

// ---------------------------------------------------------------------------------------------
// Text

// The text before the first Sep; S keeps the rest after that Sep. When S holds no Sep (or Sep is
// empty): all of S, and S is emptied.
VESKBASE_API std::string PegarProximoToken(std::string& S, const std::string& Sep);

// The same text as PegarProximoToken; S is left unchanged.
VESKBASE_API std::string PegarProximoTokenSomente(const std::string& S, const std::string& Sep);

// The text after the last Sep; S keeps the text before that Sep. When S holds no Sep (or Sep is
// empty): the empty text, and S is left unchanged.
VESKBASE_API std::string PegarAnteriorToken(std::string& S, const std::string& Sep);

// Prefix + Text + Suffix when Text is not empty, otherwise the empty text.
VESKBASE_API std::string TemDados(const std::string& Prefix, const std::string& Text,
                                  const std::string& Suffix);

// The value as a single-quoted SQL literal, every single quote inside it doubled.
VESKBASE_API std::string ValorParaSQL(const std::string& Value);

// ---------------------------------------------------------------------------------------------
// Files and processes

namespace vesk {

// One path or argument as it goes on a tool's command line, read back whole by the Microsoft C
// runtime's rules (and by the POSIX splitter, which follows them). Text without a blank, a tab or
// a double quote is returned unchanged. Otherwise, and for the empty text, it is put between
// double quotes; a double quote inside becomes \" with the backslashes before it doubled, and the
// backslashes before the closing quote are doubled: C:\Meus Backups\ gives "C:\Meus Backups\\".
// A program's own path (the first token) is never given a trailing backslash, so it reads the
// same under the program-name rule, which knows no backslash escapes.
VESKBASE_API std::string QuoteArgument(const std::string& Argument);

}  // namespace vesk

// The temporary folder, with the path delimiter at the end.
VESKBASE_API std::string PegarDirTemp();

// Writes Text to FileName as it is (no line-end conversion). With Overwrite set an existing file is
// replaced; with it clear the text is appended. Throws std::system_error when the file cannot be
// written.
VESKBASE_API void GravarArquivo(const std::string& Text, const std::string& FileName,
                                bool Overwrite);

// Copies Source to Target. With FailIfExists clear an existing Target is replaced. Returns false
// when the copy failed (and never throws), as the Windows call does.
VESKBASE_API bool CopyFile(const std::string& Source, const std::string& Target, bool FailIfExists);

// Raised by the runners when the program ran but how it ended cannot be known: the wait for it
// failed. What the program wrote may be complete and must not be cleared away as a failure's.
class VESKBASE_API EToolWaitFailed : public std::system_error {
 public:
  using std::system_error::system_error;
};

// What the runners return for a program that could not be started (missing, not executable, an
// empty command line, or an interrupt recorded before the start). No tool output goes with it.
inline constexpr int32_t kResultadoNaoIniciado = -1;

// Both runners below:
// - An interrupt recorded through platform/Interrupt.h (Ctrl-C, SIGTERM) while the program runs
//   ends it (SIGTERM, then SIGKILL after 2 s on POSIX; TerminateProcess on Windows), waits for it
//   and returns its exit code, never 0 (a program that ended with 0 anyway gives 128 + the
//   signal number), so the caller's clean-up runs. With an interrupt recorded before the start,
//   the program is not started: kResultadoNaoIniciado.
// - When the program ran but the wait for its end fails (on POSIX, something else reaped it),
//   they raise EToolWaitFailed instead of making up an exit code.

// How the runners read a tool's console output (standard output and standard error, merged):
// - CR LF and LF end a line. A line longer than kMaxLineBytes (64 KiB) is handed on in pieces of
//   at most that size, so a tool that writes without line ends costs a bounded amount of memory.
// - A line is taken as UTF-8 when it is valid UTF-8. Otherwise, on Windows, it is read in the
//   system's ANSI code page (GetACP), in which the tools built on the C runtime's narrow calls get
//   their arguments and print file names; on POSIX each byte that is not UTF-8 becomes U+FFFD.
inline constexpr std::size_t kMaxLineBytes = 64 * 1024;

// Runs CommandLine hidden, waits for it, and returns its exit code with its console output as
// UTF-8 in Output, each line with its own line end. Output keeps at most the first and the last
// 256 KiB of the lines (vesk::KeptLines). The flags are reserved and passed as false.
VESKBASE_API int32_t WinExec32AndRedirectOutput(const std::string& CommandLine, std::string& Output,
                                                bool Reserved1 = false, bool Reserved2 = false);

// The line callback of CaptureExecute. Setting Stop ends the run: the program is killed and the
// call returns its exit code.
using TCaptureLineCallback = std::function<void(const std::string& Line, bool& Stop)>;

// Runs CommandLine (with Parameters appended after a blank when not empty) in the folder Directory
// ("." or empty: the current one), hands each line of its console output to OnLine as soon as the
// program has written it, and returns the exit code. A last line without an end is delivered too.
VESKBASE_API int32_t CaptureExecute(const std::string& CommandLine, const std::string& Parameters,
                                    const std::string& Directory,
                                    const TCaptureLineCallback& OnLine);

namespace vesk {

// The text a run keeps of a tool's lines for its message: at most the first kLimit (256 KiB) and
// the last kLimit bytes of lines, whole lines only, and between them, when lines were left out,
// one line saying how many: "(... 1234 linhas omitidas ...)" ("(... 1 linha omitida ...)").
class VESKBASE_API KeptLines {
 public:
  static constexpr std::size_t kLimit = 256 * 1024;

  void Add(std::string line);
  void Clear();
  // The kept lines joined by Separator. With an empty Separator (lines that carry their own line
  // ends) the note on left-out lines stands on a line of its own.
  std::string Join(std::string_view Separator) const;

 private:
  std::vector<std::string> head_;
  std::size_t head_bytes_ = 0;
  bool head_closed_ = false;
  std::deque<std::string> tail_;
  std::size_t tail_bytes_ = 0;
  std::size_t left_out_ = 0;
};

// What a product must look like before it may replace anything: a tool that ended well may still
// have left an empty file, or one cut short.
enum class ProductKind {
  // Whatever the work wrote, an empty file included (a command file).
  Any,
  // A gbak backup: it begins with the header gbak writes.
  GbakBackup,
  // An EXP dump: it begins with its "EXPORT:V" header.
  ExportDump,
};

// Thrown by ProductFile::Commit when the product cannot stand at the final name. The message is
// the operator's (Portuguese), whole, without the operation's title: why, what became of the
// product, and that the final name is as it was (or, when only the folder's flush failed, that
// the product is there but may not survive a power cut).
class VESKBASE_API EProductNotPlaced : public std::runtime_error {
 public:
  EProductNotPlaced(const std::string& Message, std::string KeptAt)
      : std::runtime_error(Message), kept_at_(std::move(KeptAt)) {}
  // Where the finished product was kept when it could not take the final name; empty when it
  // was removed (a product that failed its check or its flush) or when it is in place.
  const std::string& KeptAt() const { return kept_at_; }

 private:
  std::string kept_at_;
};

// The longest name of one file (a path's last part) that this system gives a file of its own, in
// bytes of UTF-8: the limit of the usual file systems (255 bytes on Linux; 255 UTF-16 units on
// Windows, never more than the UTF-8 bytes of the same name).
inline constexpr std::size_t kMaxNameBytes = 255;

// The part of a file name that NameBeside keeps before a tag of tag_bytes bytes: the whole name
// when name and tag fit in kMaxNameBytes, else its beginning, cut before a whole UTF-8 character.
VESKBASE_API std::string StemBeside(const std::string& name, std::size_t tag_bytes);

// The path of a file of final_path's own beside it: final_path + tag, the last part of final_path
// shortened by StemBeside where the whole would pass the file system's name limit.
VESKBASE_API std::string NameBeside(const std::string& final_path, const std::string& tag);

// Why nothing may be put in place at path, in the operator's words ("há um dispositivo com esse
// nome; informe o caminho de um arquivo comum, novo ou a substituir"), or the empty text when
// something may: nothing stands there, a plain file, or a link (replaced itself, never followed).
// A folder, a device, a named pipe or a socket is never replaced nor written through.
VESKBASE_API std::string FinalNameProblem(const std::string& path);

// Thrown by the ProductFile constructor when FinalNameProblem refuses the final name: nothing was
// created, and nothing at that name changed. A std::system_error like every other file that
// cannot be made; FileErrorReason gives its reason.
class VESKBASE_API EProductRefused : public std::system_error {
 public:
  EProductRefused(std::error_code Code, const std::string& Path, std::string Reason)
      : std::system_error(Code, "\"" + Path + "\": " + Reason), reason_(std::move(Reason)) {}
  const std::string& Reason() const { return reason_; }

 private:
  std::string reason_;
};

// A product file (a backup, a dump, a command file) made under a new temporary name in the folder
// of its final name and put in place by one atomic rename only when the work succeeded. On every
// other way out the temporary file is removed and the final name is left as it was. Two products
// made at once for the same final name each get a temporary name of their own
// (NameBeside(final, ".~XXXXXXXXXX.tmp"), ten hexadecimal digits), created readable and writable
// by its owner alone, which the run holds while it lasts; a temporary of that name that no process
// holds (left by a host that was killed) is removed by the next product of the same final name.
// Only a plain file, a link or nothing at the final name takes a product (FinalNameProblem).
class VESKBASE_API ProductFile {
 public:
  // Reserves the temporary name by creating it empty. Throws EProductRefused when the final name
  // cannot take a product, std::system_error when the folder cannot take a new file (missing,
  // not writable).
  explicit ProductFile(std::string final_path, ProductKind kind = ProductKind::Any);
  // Removes the temporary file unless Commit ran or it was kept.
  ~ProductFile();
  ProductFile(const ProductFile&) = delete;
  ProductFile& operator=(const ProductFile&) = delete;

  // Where the work writes: the temporary name.
  const std::string& Path() const { return path_; }
  const std::string& FinalPath() const { return final_path_; }

  // Checks the product against its kind and puts it in place for good (platform ReplaceDurably:
  // flushed, with the protection of the file it replaces, renamed, its folder flushed). Throws
  // EProductNotPlaced when it cannot: a product that fails its check or cannot be flushed is
  // removed by the destructor; a whole product that cannot take the final name (the old file
  // locked, no right to replace it) is kept under its temporary name.
  void Commit();

  // Leaves the temporary file where it is, neither renamed nor removed: for work whose outcome
  // cannot be known (EToolWaitFailed), whose product may be whole.
  void Keep();

 private:
  void Release();

  std::string final_path_;
  std::string path_;
  ProductKind kind_ = ProductKind::Any;
  std::intptr_t hold_ = -1;
  bool committed_ = false;
};

// The operator's words (Portuguese) for why a file could not be made or put in place: "a pasta
// não existe", "o disco está cheio", ...
VESKBASE_API std::string FileErrorReason(const std::system_error& error);

// While alive, the programs the runners start get Name=Value in their environment; the host's
// own environment never holds it. For secrets a tool reads from its environment.
class VESKBASE_API ScopedChildEnvironment {
 public:
  ScopedChildEnvironment(std::string name, std::string value);
  ~ScopedChildEnvironment();
  ScopedChildEnvironment(const ScopedChildEnvironment&) = delete;
  ScopedChildEnvironment& operator=(const ScopedChildEnvironment&) = delete;

 private:
  std::string name_;
};

// One member of a tar archive, as its header gives it.
struct TarMember {
  // The header's name (with its ustar prefix and a "/" before it, when there is one).
  std::string Name;
  // The header's type flag: '0' (or '\0') for a regular file.
  char Type = '0';
  // Bytes of data the member holds.
  std::uint64_t Size = 0;
  // Where its data begin in the file (just after its header).
  std::uint64_t DataOffset = 0;
};

// A tar archive that is cut or damaged. The message is the operator's (Portuguese): the file,
// and what was found where.
class VESKBASE_API ETarArchiveDamaged : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The members of the tar archive at Path (UTF-8), in the order they stand. Only the headers are
// read. The archive is whole when every header matches its checksum, every member's data lie
// inside the file, and the archive ends with its two zero blocks, after which only zero bytes
// follow; otherwise ETarArchiveDamaged, an empty file included. A size past the octal field
// (base-256, as writers use for members over 8 GiB) is read too. Throws std::system_error when
// the file cannot be opened or read.
VESKBASE_API std::vector<TarMember> ReadTarArchive(const std::string& Path);

}  // namespace vesk

// ---------------------------------------------------------------------------------------------
// File versions and kept copies of other versions

// The version of a program or library file as dotted text; the empty text for a missing file,
// one that carries no version, or anything that is not a plain file (a folder, a device, a named
// pipe) or cannot be read. Never throws. Without a version resource (always on POSIX) the build
// tag inside the file is looked for in its first 64 MiB only. Flag is reserved and passed as false.
VESKBASE_API std::string GetVersao(const std::string& FileName, bool Flag);

// The version a Firebird message file carries (its build tag, in its first 64 MiB); the empty
// text when it carries none or is not a readable plain file. Never throws.
VESKBASE_API std::string GetVersaoFirebirdmsg(const std::string& FileName);

// The path of a kept copy of FileName whose version approximates Version; empty when none.
VESKBASE_API std::string PegarArqVerAproximada(const std::string& Version,
                                               const std::string& FileName);

// Puts the kept copy CopyPath in place of FileName, keeping the replaced file as a copy of its own
// version. With an empty CopyPath, or a copy whose content is the file's already, the file is left
// alone. The file is only ever renamed, never deleted before the copy is in its place; when an
// identical kept copy of it exists already it is removed after the swap, where it can be (Windows
// cannot delete a loaded library: it then stays under a hidden name beside it).
VESKBASE_API void RenomearArqVerAproximada(const std::string& FileName,
                                           const std::string& CopyPath);

// ---------------------------------------------------------------------------------------------
// Dialogs and log

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// A modal message with the given buttons (their captions); returns the index of the button the
// operator chose, or -1 when the dialog could not be shown.
VESKBASE_API int VeskMessageDlg(const std::string& Text, TMsgDlgType Type,
                                const std::vector<std::string>& Buttons, int HelpContext);

// A modal message with one OK button.
VESKBASE_API void VeskShowMessage(const std::string& Text);

// One log entry. Level -1 is the ordinary level; Source names the export that writes it.
VESKBASE_API void WriteLog(const std::string& Text, int Level, const std::string& Source);

// Where dialogs and log entries go. The host sets them; the defaults write to stderr (dialogs
// answer with their first button without waiting).
namespace vesk {

struct Dialog {
  std::string Text;
  TMsgDlgType Type = TMsgDlgType::mtInformation;
  std::vector<std::string> Buttons;
};
using DialogSink = std::function<int(const Dialog& dialog)>;
using LogSink = std::function<void(const std::string& text, int level, const std::string& source)>;

// Each setter returns the sink it replaced; an empty function restores the default.
VESKBASE_API DialogSink SetDialogSink(DialogSink sink);
VESKBASE_API LogSink SetLogSink(LogSink sink);

// A file every log entry is appended to as well, one line each (empty: none).
VESKBASE_API void SetLogFile(const std::string& file_name);

}  // namespace vesk
