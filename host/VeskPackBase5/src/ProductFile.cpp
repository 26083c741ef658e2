// Product files made under a temporary name and put in place by one rename, and the variables
// that only the runners' children see.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <utility>

#include "ChildEnvironment.h"
#include "Utf8Path.h"
#include "platform/Files.h"
#include "vesk/VeskPackBase5.h"

namespace vesk {
namespace {

std::string RandomSuffix() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::lock_guard lock(mutex);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
  return text;
}

// A name that tells an operator what the file is, should a crash leave it behind.
std::string TemporaryName(const std::string& final_path) {
  return final_path + ".~" + RandomSuffix().substr(0, 10) + ".tmp";
}

}  // namespace

ProductFile::ProductFile(std::string final_path) : final_path_(std::move(final_path)) {
  if (tolvan::platform::PathEntryExists(final_path_) &&
      !tolvan::platform::IsPlainFile(final_path_) && !tolvan::platform::IsLink(final_path_)) {
    std::error_code error;
    if (std::filesystem::is_directory(detail::Utf8Path(final_path_), error)) {
      // No tool can write a file there, and a rename would fail only after all the work.
      throw std::system_error(std::make_error_code(std::errc::is_a_directory),
                              "\"" + final_path_ + "\" is a folder");
    }
    path_ = final_path_;
    return;
  }
  for (int attempt = 0;; ++attempt) {
    std::string candidate = TemporaryName(final_path_);
    if (tolvan::platform::CreateNewFile(candidate)) {
      path_ = std::move(candidate);
      return;
    }
    if (attempt == 16) {
      throw std::system_error(std::make_error_code(std::errc::file_exists),
                              "cannot reserve a temporary name beside \"" + final_path_ + "\"");
    }
  }
}

ProductFile::~ProductFile() {
  if (!committed_ && !InPlace()) {
    tolvan::platform::RemoveFile(path_);
  }
}

void ProductFile::Commit() {
  if (!InPlace()) {
    tolvan::platform::ReplaceDurably(path_, final_path_);
  }
  committed_ = true;
}

std::string FileErrorReason(const std::system_error& error) {
  const std::error_condition condition = error.code().default_error_condition();
  if (condition == std::errc::no_such_file_or_directory) {
    return "a pasta não existe";
  }
  if (condition == std::errc::permission_denied ||
      condition == std::errc::operation_not_permitted) {
    return "não há permissão para gravar na pasta";
  }
  if (condition == std::errc::no_space_on_device) {
    return "o disco está cheio";
  }
  if (condition == std::errc::read_only_file_system) {
    return "o disco só permite leitura";
  }
  if (condition == std::errc::is_a_directory) {
    return "há uma pasta com esse nome";
  }
  return "erro " + std::to_string(error.code().value()) + " do sistema";
}

ScopedChildEnvironment::ScopedChildEnvironment(std::string name, std::string value)
    : name_(std::move(name)) {
  detail::SetChildVariable(name_, std::move(value));
}

ScopedChildEnvironment::~ScopedChildEnvironment() {
  detail::RemoveChildVariable(name_);
}

namespace detail {
namespace {

std::mutex g_child_mutex;
std::vector<std::pair<std::string, std::string>> g_child_variables;

}  // namespace

void SetChildVariable(const std::string& name, std::string value) {
  std::lock_guard lock(g_child_mutex);
  g_child_variables.emplace_back(name, std::move(value));
}

void RemoveChildVariable(const std::string& name) {
  std::lock_guard lock(g_child_mutex);
  for (auto it = g_child_variables.end(); it != g_child_variables.begin();) {
    --it;
    if (it->first == name) {
      g_child_variables.erase(it);
      return;
    }
  }
}

std::vector<std::pair<std::string, std::string>> ChildVariables() {
  std::lock_guard lock(g_child_mutex);
  return g_child_variables;
}

}  // namespace detail
}  // namespace vesk
