// The gbak version guard with version texts that carry letters. The toolkit's version reads are
// stood in for here (the real ones give digits only), so that versions differing only in letter
// case reach every comparison of the guard.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "TolvanFirebirdUtil.h"
#include "ci/TestNames.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "vesk/VeskPackBase5.h"

namespace {

// Version of each file by its name (the part after the last delimiter).
std::map<std::string, std::string> g_versions;
std::vector<std::string> g_calls;  // look-ups of kept copies, swaps and dialogs, in order

std::string NameOf(const std::string& path) {
  return path.substr(path.find_last_of("/\\") + 1);
}

}  // namespace

std::string GetVersao(const std::string& FileName, bool /*Flag*/) {
  return g_versions[NameOf(FileName)];
}
std::string GetVersaoFirebirdmsg(const std::string& FileName) {
  return g_versions[NameOf(FileName)];
}
std::string PegarArqVerAproximada(const std::string& Version, const std::string& FileName) {
  g_calls.push_back("copy of " + NameOf(FileName) + " " + Version);
  return "";
}
void RenomearArqVerAproximada(const std::string& FileName, const std::string& CopyPath) {
  g_calls.push_back("swap " + NameOf(FileName) + " " + CopyPath);
}
int VeskMessageDlg(const std::string& Text, TMsgDlgType /*Type*/,
                   const std::vector<std::string>& /*Buttons*/, int /*HelpContext*/) {
  g_calls.push_back("dialog " + Text);
  return 0;
}

namespace {

class GuardVersionCase : public ::testing::Test {
 protected:
  void SetUp() override {
    g_versions.clear();
    g_calls.clear();
    previous_ = tolvan::platform::SetMessageBoxSink(
        [](const std::string& text) { g_calls.push_back("box " + text); });
  }
  void TearDown() override { tolvan::platform::SetMessageBoxSink(previous_); }

  tolvan::platform::ScopedExecutablePathOverride app_{"/opt/host/bin/host"};
  tolvan::platform::MessageBoxSink previous_;
};

TEST_F(GuardVersionCase, VersionsThatDifferOnlyInLetterCaseAreEqualInEveryComparison) {
  g_versions["gbak" + std::string(tolvan::platform::kExecutableSuffix)] = "3.0.11.33637-rc1";
  g_versions["libfbclient.so.2"] = "3.0.11.33637-RC1";
  g_versions["firebird.msg"] = "3.0.11.33637-Rc";
  tolvan::firebird::VerificarVersaoGbak("3.0.11.33637-Rc1", "libfbclient.so.2", true);
  EXPECT_THAT(g_calls, IsEmpty());
}

TEST_F(GuardVersionCase, AVersionThatDiffersInAnythingElseIsSwappedAndReported) {
  g_versions["gbak" + std::string(tolvan::platform::kExecutableSuffix)] = "3.0.11.33637-rc1";
  g_versions["libfbclient.so.2"] = "3.0.11.33637-rc2";
  g_versions["firebird.msg"] = "3.0.11.33637-rc1";
  tolvan::firebird::VerificarVersaoGbak("3.0.11.33637-rc1x", "libfbclient.so.2", true);
  const std::string gbak = "gbak" + std::string(tolvan::platform::kExecutableSuffix);
  EXPECT_THAT(g_calls,
              ElementsAre("copy of " + gbak + " 3.0.11.33637-rc1x", "swap " + gbak + " ",
                          "box gbak 3.0.11.33637-rc1 diferente do fbclient 3.0.11.33637-rc1x",
                          "copy of libfbclient.so.2 3.0.11.33637-rc1",
                          ::testing::StartsWith("dialog A versão do arquivo libfbclient.so.2")));
}

}  // namespace
