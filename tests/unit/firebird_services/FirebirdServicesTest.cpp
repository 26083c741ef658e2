// PegarDataBases, its parameter block and reply parser, and the Firebird error text, against the
// fake client library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "FakeFbClient.h"
#include "TolvanFirebirdUtil.h"
#include "ci/TestNames.h"
#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "scripted_driver/MessageOf.h"
#include "scripted_driver/ScriptedDriver.h"
#include "vesk/VeskPack5.h"

namespace {

using tolvan::testing::MessageOf;

namespace fb = tolvan::firebird;

std::string FakePath(const std::string& variant) {
  const std::string exe = tolvan::platform::RealExecutablePath();
  const std::size_t slash = exe.find_last_of("/\\");
  return exe.substr(0, slash + 1) + "tolvan_fake_fbclient_" + variant + TOLVAN_FAKE_SUFFIX;
}

// One loaded copy of the fake, its state zeroed.
class FakeClient {
 public:
  explicit FakeClient(std::string path) : path_(std::move(path)) {
    library_ = tolvan::platform::DynamicLibrary::Load(path_);
    state_ = library_->Function<FakeFbClientStateFn>("fake_fbclient_state")();
    std::memset(state_, 0, sizeof *state_);
    state_->handle = 77;
  }
  FakeFbClientState& operator*() { return *state_; }
  FakeFbClientState* operator->() { return state_; }
  const std::string& path() const { return path_; }

  void Lines(const std::vector<std::string>& lines) {
    state_->line_count = static_cast<int>(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::snprintf(state_->lines[i], sizeof state_->lines[i], "%s", lines[i].c_str());
    }
  }
  void Reply(const std::string& bytes) {
    state_->reply_length = static_cast<int>(bytes.size());
    std::memcpy(state_->reply, bytes.data(), bytes.size());
  }
  std::string Calls() const { return state_->calls; }
  std::string Spb() const {
    return std::string(reinterpret_cast<const char*>(state_->spb),
                       static_cast<std::size_t>(state_->spb_length));
  }

 private:
  std::string path_;
  std::unique_ptr<tolvan::platform::DynamicLibrary> library_;
  FakeFbClientState* state_ = nullptr;
};

std::string Int4(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
          static_cast<char>((u >> 16) & 0xFF), static_cast<char>((u >> 24) & 0xFF)};
}

std::string Name(const std::string& name) {
  return std::string{'\x6a', static_cast<char>(name.size() & 0xFF),
                     static_cast<char>(name.size() >> 8)} +
         name;
}

std::string Reply(int32_t attachments, int32_t databases, const std::vector<std::string>& names,
                  bool end = true) {
  std::string r = "\x32\x05" + Int4(attachments) + "\x06" + Int4(databases);
  for (const auto& n : names) {
    r += Name(n);
  }
  if (end) {
    r += '\x7f';
  }
  return r;
}

int32_t VaxInteger(const char* p, int16_t n) {
  int32_t v = 0;
  for (int i = 0; i < n; ++i) {
    v |= static_cast<int32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  }
  return v;
}

class PegarDataBasesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_ = std::make_unique<TVeskSQLConnection>();
    connection_->DriverName = driver_.name();
    connection_->Params = {"Database=srv/3051:/data/loja.fdb", "DriverName=Firebird",
                           "USER_NAME=SYSDBA", "PASSWORD=masterkey", "Port=3051"};
    dm_.SQLConnection = connection_.get();
  }

  void Call(const FakeClient& client) {
    fb::PegarDataBases(&dm_, &list_, attachments_, databases_, client.path());
  }

  tolvan::testing::ScopedScriptedDriver driver_;
  std::unique_ptr<TVeskSQLConnection> connection_;
  TVeskDMConexao dm_;
  FakeClient fake_{FakePath("full")};
  std::vector<std::string> list_{"kept"};
  int32_t attachments_ = -1;
  int32_t databases_ = -1;
};

TEST_F(PegarDataBasesTest, ListsTheServersDatabasesThroughItsServiceManager) {
  fake_.Reply(Reply(3, 2, {"/data/loja.fdb", ""}));
  Call(fake_);
  EXPECT_THAT(list_, ElementsAre("kept", "/data/loja.fdb", ""));
  EXPECT_EQ(attachments_, 3);
  EXPECT_EQ(databases_, 2);
  EXPECT_STREQ(fake_->service_name, "srv/3051:service_mgr");
  EXPECT_EQ(fake_.Spb(), std::string("\x02\x02\x1c\x06SYSDBA\x1d\x09masterkey"));
  ASSERT_EQ(fake_->request_length, 1);
  EXPECT_EQ(fake_->request[0], 50);
  EXPECT_EQ(fake_->reply_buffer_length, 32000);
  EXPECT_EQ(fake_.Calls(), "isc_service_attach;isc_service_query;isc_service_detach;");
  EXPECT_EQ(fake_->detached_handle, 77u);
}

TEST_F(PegarDataBasesTest, AServerWithNoDatabasesGivesZeroCounts) {
  fake_.Reply(Reply(0, 0, {}));
  Call(fake_);
  EXPECT_THAT(list_, ElementsAre("kept"));
  EXPECT_EQ(attachments_, 0);
  EXPECT_EQ(databases_, 0);
}

TEST_F(PegarDataBasesTest, AKeyWithoutAHostUsesTheLocalServiceManager) {
  fake_.Reply(Reply(0, 0, {}));
  for (const char* key : {"C:\\dados\\loja.fdb", "loja", "/data/loja.fdb"}) {
    driver_->SetDatabaseKey(key);
    Call(fake_);
    EXPECT_STREQ(fake_->service_name, "service_mgr") << key;
  }
}

TEST_F(PegarDataBasesTest, ARefusedQueryRaisesTheErrorTextAndStillDetaches) {
  fake_->query_error = 335544472;
  fake_->sqlcode = -902;
  fake_.Lines({"Your user name and password are not defined.", "Ask your administrator."});
  EXPECT_EQ(MessageOf([&] { Call(fake_); }),
            "Your user name and password are not defined.\r\nAsk your administrator sqlcode:-902 "
            "IBErrorCode:335544472");
  EXPECT_THAT(fake_.Calls(), HasSubstr("isc_service_detach;"));
  EXPECT_EQ(databases_, -1);
  EXPECT_EQ(attachments_, 0);
}

TEST_F(PegarDataBasesTest, ErrorTextJoinsLinesAndDropsOneFinalFullStop) {
  fake_->query_error = 335544344;
  fake_->sqlcode = -901;
  struct Case {
    std::vector<std::string> lines;
    std::string text;
  };
  const Case cases[] = {
      {{}, " sqlcode:-901 IBErrorCode:335544344"},
      {{"A", "B."}, "A\r\nB sqlcode:-901 IBErrorCode:335544344"},
      {{"A\n", "B"}, "A\nB sqlcode:-901 IBErrorCode:335544344"},
      {{"B.."}, "B. sqlcode:-901 IBErrorCode:335544344"},
  };
  for (const auto& c : cases) {
    fake_.Lines(c.lines);
    EXPECT_EQ(MessageOf([&] { Call(fake_); }), c.text);
  }
}

TEST_F(PegarDataBasesTest, ARefusedAttachRaisesItsOwnErrorText) {
  fake_->attach_error = 335544472;
  fake_->query_error = 335544559;
  fake_->sqlcode = -902;
  fake_.Lines({"Your user name and password are not defined."});
  EXPECT_EQ(MessageOf([&] { Call(fake_); }),
            "Your user name and password are not defined sqlcode:-902 IBErrorCode:335544472");
  // Nothing was attached: no query, nothing to detach.
  EXPECT_EQ(fake_.Calls(), "isc_service_attach;isc_sqlcode;isc_interprete;isc_interprete;");
}

TEST_F(PegarDataBasesTest, EntryPointsAreLookedUpAgainInEachNewlyLoadedLibrary) {
  const auto copy =
      std::filesystem::temp_directory_path() /
      ("tolvan_fake_fbclient_copy_" + std::to_string(std::random_device{}()) + TOLVAN_FAKE_SUFFIX);
  std::filesystem::copy_file(FakePath("full"), copy,
                             std::filesystem::copy_options::overwrite_existing);
  struct Remove {
    std::filesystem::path path;
    ~Remove() {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  } remove_copy{copy};
  auto other = std::make_unique<FakeClient>(copy.string());
  fake_->query_error = 335544472;
  (*other)->query_error = 335544472;
  fake_.Lines({"from the first"});
  other->Lines({"from the second"});
  EXPECT_THAT(MessageOf([&] { Call(fake_); }), HasSubstr("from the first"));
  EXPECT_THAT(MessageOf([&] { Call(*other); }), HasSubstr("from the second"));
  EXPECT_THAT(MessageOf([&] { Call(fake_); }), HasSubstr("from the first"));
  other.reset();
}

TEST_F(PegarDataBasesTest, AnErrorTextWithoutItsEntryPointsIsTheSystemsError) {
  FakeClient partial(FakePath("no_interprete"));
  partial->query_error = 335544472;
  EXPECT_THROW(fb::PegarDataBases(&dm_, &list_, attachments_, databases_, partial.path()),
               std::system_error);
  EXPECT_THAT(partial.Calls(), HasSubstr("isc_service_detach;"));
}

TEST_F(PegarDataBasesTest, AMissingOrIncompleteLibraryIsReportedAsMissing) {
  const std::string missing(fb::kFbClientMissing);
  EXPECT_EQ(MessageOf([&] {
              fb::PegarDataBases(&dm_, &list_, attachments_, databases_,
                                 FakePath("does_not_exist"));
            }),
            missing);
  FakeClient no_query(FakePath("no_query"));
  EXPECT_EQ(MessageOf([&] { Call(no_query); }), missing);
  EXPECT_THAT(no_query.Calls(), IsEmpty());
  EXPECT_EQ(attachments_, 0);
  EXPECT_EQ(databases_, -1);
}

TEST_F(PegarDataBasesTest, ArgumentAndParameterErrorsComeBeforeAnyAttach) {
  EXPECT_EQ(
      MessageOf([&] { fb::PegarDataBases(&dm_, nullptr, attachments_, databases_, fake_.path()); }),
      "PegarDataBases: _ADbs não poder ser nil");
  EXPECT_EQ(attachments_, -1);

  connection_->Params.push_back("verbose=1");
  EXPECT_EQ(MessageOf([&] { Call(fake_); }), "SPB Constant Unknown");
  connection_->Params.back() = "password=" + std::string(256, 'x');
  EXPECT_THAT(MessageOf([&] { Call(fake_); }), HasSubstr("255"));
  EXPECT_THAT(fake_.Calls(), IsEmpty());
}

TEST_F(PegarDataBasesTest, AReplyOutOfLayoutKeepsWhatWasReadAndDetaches) {
  fake_.Reply(Reply(4, 2, {"/a.fdb"}, false) + "\x6b");
  EXPECT_EQ(MessageOf([&] { Call(fake_); }), "Unexpected Output buffer value");
  EXPECT_THAT(list_, ElementsAre("kept", "/a.fdb"));
  EXPECT_EQ(attachments_, 4);
  EXPECT_EQ(databases_, 2);
  EXPECT_THAT(fake_.Calls(), HasSubstr("isc_service_detach;"));
}

TEST(ServiceParameterBlock, TakesUserPasswordAndRoleWhateverTheirCaseAndPrefix) {
  EXPECT_EQ(fb::BuildServiceParameterBlock({"Database=srv:/x.fdb", "DriverName=Firebird",
                                            "ISC_SPB_User_Name=ana", " =x", "Server=srv",
                                            "isc_spb_password=a=b ", "sql_role_name=R"}),
            std::string("\x02\x02\x1c\x03"
                        "ana\x1d\x04"
                        "a=b \x3c\x01R"));
  EXPECT_EQ(fb::BuildServiceParameterBlock({}), std::string("\x02\x02"));
  for (const char* line : {"verbose=1", "isc_spb_dbname=x", "version", "CONNECT_TIMEOUT=3"}) {
    EXPECT_EQ(MessageOf([&] { fb::BuildServiceParameterBlock({line}); }), "SPB Constant Unknown")
        << line;
  }
  EXPECT_EQ(fb::BuildServiceParameterBlock({"user_name=" + std::string(255, 'u')}).size(),
            2u + 2u + 255u);
}

TEST(DatabasesReplyParser, ReadsGoodRepliesAndStopsAtTheFirstByteOutOfLayout) {
  fb::DatabasesReply good;
  fb::ParseDatabasesReply(Reply(5, 2, {"/a.fdb", ""}) + std::string(100, '\0'), VaxInteger, good);
  EXPECT_EQ(good.attachments, 5);
  EXPECT_EQ(good.databases, 2);
  EXPECT_THAT(good.names, ElementsAre("/a.fdb", ""));

  struct Case {
    std::string reply;
    std::optional<int32_t> attachments;
    std::optional<int32_t> databases;
    std::vector<std::string> names;
  };
  const std::string full = Reply(1, 1, {"/data/x.fdb"});
  const Case cases[] = {
      {"", {}, {}, {}},
      {"\x33\x05" + Int4(1), {}, {}, {}},
      {"\x32\x05\x01\x00", {}, {}, {}},
      {"\x32\x05" + Int4(7) + "\x07", 7, {}, {}},
      {full.substr(0, full.size() - 4), 1, 1, {}},
      {full.substr(0, full.size() - 1), 1, 1, {"/data/x.fdb"}},
      {Reply(1, 1, {"/a"}, false) + "\x02", 1, 1, {"/a"}},
      {Reply(1, 1, {}, false) + "\x6a\xff\xff", 1, 1, {}},
  };
  for (const auto& c : cases) {
    fb::DatabasesReply out;
    EXPECT_EQ(MessageOf([&] { fb::ParseDatabasesReply(c.reply, VaxInteger, out); }),
              "Unexpected Output buffer value");
    EXPECT_EQ(out.attachments, c.attachments);
    EXPECT_EQ(out.databases, c.databases);
    EXPECT_EQ(out.names, c.names);
  }
}

TEST(DatabasesReplyParser, AReplyThatFillsTheWholeBufferIsRefusedWithoutReadingPastIt) {
  std::string reply = Reply(9, 9, {}, false);
  while (reply.size() + 3 + 200 <= fb::kServicesReplyLength) {
    reply += Name(std::string(200, 'd'));
  }
  reply += std::string(fb::kServicesReplyLength - reply.size(), '\x6a');
  ASSERT_EQ(reply.size(), fb::kServicesReplyLength);
  fb::DatabasesReply out;
  EXPECT_EQ(MessageOf([&] { fb::ParseDatabasesReply(reply, VaxInteger, out); }),
            "Unexpected Output buffer value");
  EXPECT_GT(out.names.size(), 100u);
}

TEST(StatusCheck, ReturnsTheResultUnlessAskedToRaiseAPositiveOne) {
  EXPECT_EQ(fb::CheckStatus(335544344, false), 335544344);
  EXPECT_EQ(fb::CheckStatus(0, true), 0);
  EXPECT_EQ(fb::CheckStatus(-5, true), -5);
  // Outside a call no client library is loaded: the system's error, not a crash.
  EXPECT_THROW(fb::CheckStatus(1, true), std::system_error);
}

TEST(ServiceManagerName, HostBeforeTheFirstColonUnlessItIsADriveLetter) {
  EXPECT_EQ(fb::ServiceManagerName("srv:/d/x.fdb"), "srv:service_mgr");
  EXPECT_EQ(fb::ServiceManagerName("localhost/3051:C:\\d\\x.fdb"), "localhost/3051:service_mgr");
  EXPECT_EQ(fb::ServiceManagerName("C:\\d\\x.fdb"), "service_mgr");
  EXPECT_EQ(fb::ServiceManagerName(":x"), "service_mgr");
  EXPECT_EQ(fb::ServiceManagerName("alias"), "service_mgr");
}

}  // namespace
