// Product files: a backup, a dump, a command file, made under a temporary name and put in place
// only when the work that makes it succeeded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

namespace tolvan::support {

class ToolWaitFailed;

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
class EProductNotPlaced : public std::runtime_error {
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
std::string StemBeside(const std::string& name, std::size_t tag_bytes);

// The path of a file of final_path's own beside it: final_path + tag, the last part of final_path
// shortened by StemBeside where the whole would pass the file system's name limit.
std::string NameBeside(const std::string& final_path, const std::string& tag);

// Why nothing may be put in place at path, in the operator's words ("há um dispositivo com esse
// nome; informe o caminho de um arquivo comum, novo ou a substituir"), or the empty text when
// something may: nothing stands there, a plain file, or a link (replaced itself, never followed).
// A folder, a device, a named pipe or a socket is never replaced nor written through.
std::string FinalNameProblem(const std::string& path);

// Thrown by the ProductFile constructor when FinalNameProblem refuses the final name: nothing was
// created, and nothing at that name changed. A std::system_error like every other file that
// cannot be made; FileErrorReason gives its reason.
class EProductRefused : public std::system_error {
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
class ProductFile {
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
  // cannot be known (ToolWaitFailed), whose product may be whole.
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
std::string FileErrorReason(const std::system_error& error);

// The steps by which a tool writes a product file, and the operator's texts for each way they end.
struct ProductSteps {
  // The final name, and what the product must look like (ProductFile).
  std::string final_path;
  ProductKind kind = ProductKind::Any;
  // Written at the final name itself, without a temporary (a file the tool writes on another
  // machine, where this one cannot reach it).
  bool at_final_name = false;
  // The operation's title before a message of ProductFile ("Backup:\r\n").
  std::string heading;
  // The whole message when no temporary file can be made beside the final name, given the
  // reason (FileErrorReason).
  std::function<std::string(const std::string& reason)> not_created;
  // The whole message when the final name cannot take a product (EProductRefused's reason);
  // not_created's when empty.
  std::function<std::string(const std::string& reason)> refused;
  // The whole message when the tool ran but how it ended is unknown, given that failure and where
  // what it wrote was kept.
  std::function<std::string(const ToolWaitFailed& error, const std::string& kept_at)>
      outcome_unknown;
};

// Makes the product: reserves its temporary name, has work write it there (work gets the path to
// write), and puts it at the final name when work returns. When work fails, the temporary is
// removed and the final name stays as it was; when it raises ToolWaitFailed, what it wrote stays
// where it is, for the operator to check, and outcome_unknown is raised; a product that cannot
// take the final name raises heading and ProductFile's reason.
void MakeProduct(const ProductSteps& steps, const std::function<void(const std::string&)>& work);

}  // namespace tolvan::support
