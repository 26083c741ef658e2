#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

namespace tolvan::platform {
namespace {

constexpr bool kPosix = kPathDelimiter == '/';

TEST(Environment, SetGetUnsetAndEmptyValues) {
  SetEnv("TOLVAN_TEST_VAR", "a=b c");
  EXPECT_EQ(GetEnv("TOLVAN_TEST_VAR"), "a=b c");
  SetEnv("TOLVAN_TEST_VAR", "");
  EXPECT_EQ(GetEnv("TOLVAN_TEST_VAR"), "");
  UnsetEnv("TOLVAN_TEST_VAR");
  EXPECT_EQ(GetEnv("TOLVAN_TEST_VAR"), std::nullopt);
  EXPECT_THROW(SetEnv("", "x"), std::system_error);
  EXPECT_THROW(SetEnv("A=B", "x"), std::system_error);
}

TEST(Environment, OverridesNestAndLeaveTheRealEnvironmentAlone) {
  SetEnv("TOLVAN_TEST_REAL", "real");
  {
    ScopedEnvironmentOverride outer;
    SetEnv("TOLVAN_TEST_VAR", "outer");
    EXPECT_EQ(GetEnv("TOLVAN_TEST_REAL"), "real");  // untouched names fall through
    {
      ScopedEnvironmentOverride inner;
      EXPECT_EQ(GetEnv("TOLVAN_TEST_VAR"), "outer");
      SetEnv("TOLVAN_TEST_VAR", "inner");
      UnsetEnv("TOLVAN_TEST_REAL");
      EXPECT_EQ(GetEnv("TOLVAN_TEST_VAR"), "inner");
      EXPECT_EQ(GetEnv("TOLVAN_TEST_REAL"), std::nullopt);
      EXPECT_THROW(SetEnv("", "x"), std::system_error);
    }
    EXPECT_EQ(GetEnv("TOLVAN_TEST_VAR"), "outer");
    EXPECT_EQ(GetEnv("TOLVAN_TEST_REAL"), "real");
  }
  EXPECT_EQ(GetEnv("TOLVAN_TEST_VAR"), std::nullopt);
  EXPECT_EQ(GetEnv("TOLVAN_TEST_REAL"), "real");
  UnsetEnv("TOLVAN_TEST_REAL");
}

// Children are given a UTF-8 locale only where the environment's own one would make them misread
// the UTF-8 texts of their command line; a UTF-8 locale of the operator's is left as it is.
TEST(Environment, ChildrenGetAUtf8LocaleOnlyWhenTheEnvironmentLacksOne) {
  ScopedEnvironmentOverride scope;
  const auto given = [](const char* all, const char* ctype, const char* lang) {
    for (const auto& [name, value] :
         {std::pair{"LC_ALL", all}, std::pair{"LC_CTYPE", ctype}, std::pair{"LANG", lang}}) {
      if (value == nullptr) {
        UnsetEnv(name);
      } else {
        SetEnv(name, value);
      }
    }
    return Utf8LocaleForChildren();
  };
  const std::optional<std::pair<std::string, std::string>> utf8 =
      kPosix ? std::optional(std::pair<std::string, std::string>("LC_ALL", "C.UTF-8"))
             : std::nullopt;
  EXPECT_EQ(given(nullptr, nullptr, nullptr), utf8);
  EXPECT_EQ(given("C", nullptr, "pt_BR.UTF-8"), utf8);
  EXPECT_EQ(given("", "POSIX", "pt_BR.UTF-8"), utf8);  // LC_CTYPE speaks before LANG
  EXPECT_EQ(given(nullptr, nullptr, "pt_BR.ISO-8859-1"), utf8);
  EXPECT_EQ(given(nullptr, nullptr, "pt_BR.UTF-8"), std::nullopt);
  EXPECT_EQ(given(nullptr, "C.utf8", "C"), std::nullopt);
  EXPECT_EQ(given("en_US.utf8", "C", "C"), std::nullopt);
}

TEST(Paths, ExecutablePathOverridesNest) {
  const std::string real = RealExecutablePath();
  ASSERT_FALSE(real.empty());
  EXPECT_EQ(ExecutablePath(), real);
  const std::string a = std::string("app") + kPathDelimiter + "one" + kPathDelimiter + "host";
  const std::string b = std::string("other") + kPathDelimiter + "host";
  {
    ScopedExecutablePathOverride first(a);
    EXPECT_EQ(ExecutablePath(), a);
    EXPECT_EQ(ExecutableDirectory(), std::string("app") + kPathDelimiter + "one" + kPathDelimiter);
    {
      ScopedExecutablePathOverride second(b);
      EXPECT_EQ(ExecutablePath(), b);
      EXPECT_EQ(RealExecutablePath(), real);
    }
    EXPECT_EQ(ExecutablePath(), a);
  }
  EXPECT_EQ(ExecutablePath(), real);
  EXPECT_EQ(ExecutableDirectory(), real.substr(0, real.find_last_of("/\\") + 1));
}

// The folder follows the environment as this process's functions see it, a test's overlay
// included, so that a tool started with that environment names the same folder.
TEST(Paths, TemporaryDirectoryEndsWithTheDelimiter) {
  EXPECT_EQ(TemporaryDirectory().back(), kPathDelimiter);
  struct Case {
    std::vector<std::pair<const char*, const char*>> variables;
    const char* folder;
  };
  const std::vector<Case> cases =
      kPosix ? std::vector<Case>{{{{"TMPDIR", "/var/tmp/x"}}, "/var/tmp/x/"},
                                 {{{"TMPDIR", ""}}, "/tmp/"}}
             : std::vector<Case>{{{{"TMP", "C:\\t\\a"}, {"TEMP", "C:\\t\\b"}}, "C:\\t\\a\\"},
                                 {{{"TMP", ""}, {"TEMP", "C:\\t\\b\\"}}, "C:\\t\\b\\"}};
  for (const Case& c : cases) {
    ScopedEnvironmentOverride overlay;
    for (const auto& [name, value] : c.variables) {
      SetEnv(name, value);
    }
    EXPECT_EQ(TemporaryDirectory(), c.folder);
  }
}

TEST(Registry, MissingValuesReadAsNothing) {
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, "SOFTWARE\\Tolvan\\No Such Key", "X"),
            std::nullopt);
}

TEST(Registry, WindowsReadsStringValues) {
  if (kPosix) {
    GTEST_SKIP() << "POSIX has no registry";
  }
  const std::string key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  auto version = ReadRegistryString(RegistryRoot::LocalMachine, key, "CurrentVersion");
  ASSERT_TRUE(version.has_value());
  EXPECT_FALSE(version->empty());
  EXPECT_EQ(version->find('\0'), std::string::npos);
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "TolvanNoSuchValue"), std::nullopt);
}

TEST(Registry, FirebirdInstanceMapsToTheEnvironmentOnPosix) {
  if (!kPosix) {
    GTEST_SKIP() << "Windows reads the real registry";
  }
  const std::string key = "SOFTWARE\\Firebird Project\\Firebird Server\\Instances";
  ScopedEnvironmentOverride overlay;
  UnsetEnv("FIREBIRD");
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "DefaultInstance"), std::nullopt);
  SetEnv("FIREBIRD", "");
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "DefaultInstance"), std::nullopt);
  SetEnv("FIREBIRD", "/opt/firebird/");
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "DefaultInstance"),
            "/opt/firebird/");
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine,
                               "software\\firebird project\\firebird server\\instances",
                               "defaultinstance"),
            "/opt/firebird/");
  EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, key, "DefaultInstance"), std::nullopt);
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Other"), std::nullopt);
}

}  // namespace
}  // namespace tolvan::platform
