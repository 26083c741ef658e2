// The host toolkit: text tokens, files, processes, file versions, dialogs and the log.
// Implemented by the host (host/VeskPackBase5); the plug-ins call it by these names.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
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

// Runs CommandLine hidden, waits for it, and returns its exit code with its console output as
// UTF-8 in Output, each line with its own line end; a program that cannot be started gives -1.
// The flags are reserved and passed as false.
VESKBASE_API int32_t WinExec32AndRedirectOutput(const std::string& CommandLine, std::string& Output,
                                                bool Reserved1 = false, bool Reserved2 = false);

// The line callback of CaptureExecute. Setting Stop ends the run: the program is killed and the
// call returns its exit code.
using TCaptureLineCallback = std::function<void(const std::string& Line, bool& Stop)>;

// Runs CommandLine (with Parameters appended after a blank when not empty) in the folder Directory
// ("." or empty: the current one), hands each line of its console output to OnLine as soon as the
// program has written it, and returns the exit code (-1 for a program that cannot be started). A
// last line without an end is delivered too.
VESKBASE_API int32_t CaptureExecute(const std::string& CommandLine, const std::string& Parameters,
                                    const std::string& Directory,
                                    const TCaptureLineCallback& OnLine);

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
