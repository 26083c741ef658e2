// Tests' side of the fake tool: a program built with the tests that stands in for gbak, pg_dump
// and the others. A test installs it under the name it needs in a fresh application folder,
// gives it a script, runs the code under test, and reads back how the tool was called.
//
// Script (one directive a line, in order; the end of the script exits 0):
//   out TEXT       TEXT and "\n" on stdout          err TEXT    the same on stderr
//   crlf TEXT      TEXT and "\r\n" on stdout        write TEXT  TEXT with no line end
//   hex 41ff42     raw bytes on stdout              lines N P   N lines "P1".."PN", fast
//   sleep MS       pause                            stdin       read stdin, print "stdin:<bytes>"
//   fill N         N bytes "x" on stdout, no line end
//   env NAME       print "env:NAME=<value>" or "env:NAME unset"
//   argv           print each argument as "arg:<text>"
//   crt-argv       print main's argv (the C runtime's split) as "crt:<hex>" lines, then the
//                  platform splitter's reading of the same line as "ours:<hex>" lines
//   exit N         exit with N at once              crash       abort()
//   ignore-term    ignore SIGTERM from here on      fd N        print "fd:N open" or "fd:N closed"
//   copy-to-option OPT FILE   copy FILE to the argument after OPT (a product the tool writes)
//   product FILE              copy FILE to the temporary product name among the arguments
//                             (the first holding ".~", less a leading "FILE=")
//   keep-command-file NAME   copy NAME from a folder directly under the temporary folder to
//                            the tool's own folder
//   (Linux) record-env NAME  record the variable with the call
// The script is the file named by TOLVAN_FAKE_SCRIPT, otherwise the tool's path + ".script";
// with no script the tool exits 0 silently. Each call is appended to TOLVAN_FAKE_RECORD,
// otherwise the tool's path + ".calls".
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tolvan::testing {

struct FakeToolCall {
  std::vector<std::string> args;  // after the program
  std::string cwd;
  std::map<std::string, std::optional<std::string>> env;  // nullopt: unset in the tool
};

// A path held as UTF-8 text (the form the code under test takes) for std::filesystem and the
// streams: on Windows a plain std::string would be read in the ANSI code page and lose accents.
inline std::filesystem::path Utf8Path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// A path's text as UTF-8.
inline std::string Utf8Text(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Names the folder under which application folders are made (UTF-8; created when missing);
// unset or empty: the system's temporary folder.
inline constexpr const char* kAppBaseVariable = "TOLVAN_TEST_APP_BASE";

// A fresh temporary application folder, removed with everything in it on destruction.
class FakeToolFolder {
 public:
  FakeToolFolder();
  ~FakeToolFolder();
  FakeToolFolder(const FakeToolFolder&) = delete;
  FakeToolFolder& operator=(const FakeToolFolder&) = delete;

  // The folder, with the path delimiter at the end.
  const std::string& Path() const { return path_; }

  // Copies the fake tool in as `name` (".exe" added on Windows), with the script, and returns
  // the installed program's full path.
  std::string Install(const std::string& name, const std::string& script = "");

  // Replaces the script of an installed tool.
  void SetScript(const std::string& name, const std::string& script) const;

  // The calls recorded so far by the tool installed as `name`, oldest first.
  std::vector<FakeToolCall> Calls(const std::string& name) const;

  // Full path of the tool installed as `name`.
  std::string ToolPath(const std::string& name) const;

  // The built fake tool, beside the running test program.
  static std::string BuiltTool();

 private:
  std::string path_;
};

// Reads a record file written by the fake tool.
std::vector<FakeToolCall> ReadFakeToolCalls(const std::string& record_path);

}  // namespace tolvan::testing
