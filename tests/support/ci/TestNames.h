// The short names the tests use for gmock's matchers, std::filesystem and a list of lines, declared
// once here for every test program.
#pragma once

#include <gmock/gmock.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

using Lines = std::vector<std::string>;

using ::testing::AllOf, ::testing::Contains, ::testing::ContainsRegex, ::testing::Each,
    ::testing::ElementsAre, ::testing::ElementsAreArray, ::testing::EndsWith, ::testing::HasSubstr,
    ::testing::IsEmpty, ::testing::IsSupersetOf, ::testing::MatchesRegex, ::testing::Not,
    ::testing::StartsWith;
