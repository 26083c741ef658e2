// The files a CriarBackup run keeps beside its final name, and what gone runs left there.
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

#include "VerifyPostgres.h"
#include "platform/Utf8Path.h"

namespace tolvan::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRunWord = ".~pg_dump-";
constexpr const char* kKeptAsideWord = ".~anterior-";

fs::path FolderOf(const std::string& path) {
  const fs::path folder = tolvan::platform::Utf8Path(path).parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

}  // namespace

DumpRunFiles::DumpRunFiles(const std::string& final_path, const std::string& server_tag) {
  std::random_device random;
  for (int attempt = 0;; ++attempt) {
    std::ostringstream marker;
    marker << final_path << kRunWord << server_tag << "-" << std::hex << random();
    hold_ = tolvan::platform::CreateHeldFile(marker.str());
    if (hold_ != tolvan::platform::kNoFileHold) {
      marker_ = marker.str();
      dump_ = marker_ + ".dump";
      // A dump kept read-only under that name by an earlier run stays its own.
      if (!tolvan::platform::PathEntryExists(dump_)) {
        return;
      }
      tolvan::platform::ReleaseFileHold(hold_);
      tolvan::platform::RemoveFile(marker_);
    }
    if (attempt == 16) {
      throw std::system_error(std::make_error_code(std::errc::file_exists),
                              "não foi possível reservar um nome ao lado de " + final_path);
    }
  }
}

DumpRunFiles::~DumpRunFiles() {
  if (!kept_) {
    tolvan::platform::RemoveFile(dump_);
  }
  tolvan::platform::ReleaseFileHold(hold_);
  tolvan::platform::RemoveFile(marker_);
}

void DumpRunFiles::KeepDump() {
  kept_ = true;
  tolvan::platform::MakeReadOnly(dump_);
}

void RemoveWhatGoneRunsLeft(const std::string& final_path) {
  const std::string name =
      tolvan::platform::Utf8Text(tolvan::platform::Utf8Path(final_path).filename());
  const std::string run_head = name + kRunWord;
  const std::string aside_head = name + kKeptAsideWord;
  // Each run's files by the run's mark: its held file, then the rest.
  std::map<std::string, std::vector<std::string>> runs;
  std::vector<std::string> kept_aside;
  std::error_code error;
  for (fs::directory_iterator it(FolderOf(final_path), error), end; !error && it != end;
       it.increment(error)) {
    const std::string entry = tolvan::platform::Utf8Text(it->path().filename());
    if (entry.rfind(run_head, 0) == 0) {
      const std::string mark = entry.substr(0, entry.find('.', run_head.size()));
      auto& files = runs[mark];
      files.insert(entry == mark ? files.begin() : files.end(),
                   tolvan::platform::Utf8Text(it->path()));
    } else if (entry.rfind(aside_head, 0) == 0) {
      kept_aside.push_back(tolvan::platform::Utf8Text(it->path()));
    }
  }
  for (const auto& [mark, files] : runs) {
    const bool has_marker =
        tolvan::platform::Utf8Text(tolvan::platform::Utf8Path(files.front()).filename()) == mark;
    // A run that still works holds its mark; one without a mark has ended or is gone.
    if (has_marker && !tolvan::platform::RemoveUnheldFile(files.front())) {
      continue;
    }
    for (const std::string& file : files) {
      tolvan::platform::RemoveUnheldFile(file);
    }
  }
  for (const std::string& earlier : kept_aside) {
    std::error_code same_error;
    if (!tolvan::platform::IsPlainFile(earlier)) {
      continue;
    }
    if (tolvan::platform::FileExists(final_path) &&
        fs::equivalent(tolvan::platform::Utf8Path(earlier), tolvan::platform::Utf8Path(final_path),
                       same_error)) {
      tolvan::platform::RemoveUnheldFile(earlier);
    } else if (!same_error) {
      try {
        tolvan::platform::ReplaceDurably(earlier, final_path);
      } catch (const std::system_error&) {
        // Left where it is: the next run tries again.
      }
    }
  }
}

}  // namespace tolvan::cli
