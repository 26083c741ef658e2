#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "Recorders.h"
#include "ci/TempDir.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Toolkit.h"

namespace {

using tolvan::test::DialogRecorder;
using tolvan::test::LogRecorder;

std::vector<std::string> ReadLines(const std::string& file) {
  std::ifstream in(std::filesystem::path(std::u8string(file.begin(), file.end())),
                   std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(Dialogs, RecorderSeesEveryDialogAndAnswersWithItsIndex) {
  DialogRecorder dialogs(1);
  EXPECT_EQ(VeskMessageDlg("Continuar?", TMsgDlgType::mtConfirmation, {"Sim", "N\xc3\xa3o"}, 0), 1);
  dialogs.SetAnswer(0);
  VeskShowMessage("Pronto.");

  const auto shown = dialogs.Dialogs();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].Text, "Continuar?");
  EXPECT_EQ(shown[0].Type, TMsgDlgType::mtConfirmation);
  EXPECT_EQ(shown[0].Buttons, (std::vector<std::string>{"Sim", "N\xc3\xa3o"}));
  EXPECT_EQ(shown[1].Text, "Pronto.");
  EXPECT_EQ(shown[1].Buttons, std::vector<std::string>{"OK"});
}

TEST(Dialogs, RecordersPutThePreviousSinkBack) {
  DialogRecorder outer;
  LogRecorder outer_log;
  {
    DialogRecorder inner(3);
    LogRecorder inner_log;
    EXPECT_EQ(VeskMessageDlg("inner", TMsgDlgType::mtWarning, {"Ok"}, 0), 3);
    WriteLog("inner", -1, "Test");
    EXPECT_EQ(inner.Texts(), std::vector<std::string>{"inner"});
    EXPECT_EQ(inner_log.Entries().size(), 1u);
  }
  EXPECT_EQ(VeskMessageDlg("outer", TMsgDlgType::mtWarning, {"Ok"}, 0), 0);
  WriteLog("outer", -1, "Test");
  EXPECT_EQ(outer.Texts(), std::vector<std::string>{"outer"});
  ASSERT_EQ(outer_log.Entries().size(), 1u);
  EXPECT_EQ(outer_log.Entries()[0].Text, "outer");
}

TEST(Dialogs, DefaultsAnswerWithTheFirstButtonAndWriteToStderr) {
  testing::internal::CaptureStderr();
  const int answer = VeskMessageDlg("Favor copiar", TMsgDlgType::mtWarning, {"Ok", "Cancel"}, 0);
  WriteLog("falhou", -1, "Versao");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, 0);
  EXPECT_NE(err.find("Favor copiar"), std::string::npos) << err;
  EXPECT_NE(err.find("[Versao] falhou"), std::string::npos) << err;
}

TEST(Log, SinkGetsTextLevelAndSource) {
  LogRecorder log;
  WriteLog("Erro: sem servidor", -1, "Versao");
  const auto entries = log.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Text, "Erro: sem servidor");
  EXPECT_EQ(entries[0].Level, -1);
  EXPECT_EQ(entries[0].Source, "Versao");
}

TEST(Log, FileGetsOneStampedLinePerEntryUntilUnset) {
  tolvan::test::TempDir dir;
  const auto file = dir.File("tolvan.log");
  LogRecorder log;  // a sink does not keep entries from the file
  vesk::SetLogFile(file);
  WriteLog("linha 1\r\nlinha 2", -1, "CriarDataBase");
  WriteLog("depois", -1, "Versao");
  vesk::SetLogFile("");
  WriteLog("not in the file", -1, "Versao");

  const auto lines = ReadLines(file);
  ASSERT_EQ(lines.size(), 2u);
  const std::regex stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:?\d\d) )");
  EXPECT_TRUE(std::regex_search(lines[0], stamp, std::regex_constants::match_continuous))
      << lines[0];
  EXPECT_NE(lines[0].find(" [CriarDataBase] linha 1\\r\\nlinha 2"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].back(), '2');
  EXPECT_NE(lines[1].find(" [Versao] depois"), std::string::npos) << lines[1];
  EXPECT_EQ(log.Entries().size(), 3u);
}

TEST(Log, AnUnwritableFileDoesNotTurnIntoAFailure) {
  tolvan::test::TempDir dir;
  LogRecorder log;
  vesk::SetLogFile(dir.File("no/such/folder/tolvan.log"));
  testing::internal::CaptureStderr();
  EXPECT_NO_THROW(WriteLog("still logged", -1, "Versao"));
  testing::internal::GetCapturedStderr();
  vesk::SetLogFile("");
  EXPECT_EQ(log.Entries().size(), 1u);
}

}  // namespace
