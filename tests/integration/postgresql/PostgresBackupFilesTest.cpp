// With the real pg_dump: a good dump under temp/ stays byte for byte through runs that fail at
// the start, are killed part-way, lack their folder or fill the disk, and is replaced by a run
// that succeeds; a new database whose collation the server's system lacks is reported, never
// made silently.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "PostgresCluster.h"
#include "ci/FailureOf.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"

namespace tolvan::postgresql {
namespace {

class PostgresBackupFiles : public PostgresCluster {
 protected:
  void SetUp() override {
    PostgresCluster::SetUp();
    if (IsSkipped() || HasFatalFailure()) {
      return;
    }
    dump_ = app_ / "temp" / (template_ + ".dump");
    host_->ExecuteDirect(
        "create table t(i int, nome text);"
        "insert into t select g, 'linha ' || g from generate_series(1, 1000) g");
    CriarBackup(host_.get());
    good_ = Bytes(dump_);
    ASSERT_GT(good_.size(), 1000u);
    host_->ExecuteDirect("insert into t select g, 'nova ' || g from generate_series(1, 1000) g");
  }

  // What a run left in temp/ beside the dump.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dump_.parent_path())) {
      if (entry.path() != dump_) {
        names.push_back(entry.path().filename().string());
      }
    }
    return names;
  }

  fs::path dump_;
  std::string good_;
};

TEST_F(PostgresBackupFiles, AWrongPasswordLeavesTheGoodDumpAndASuccessReplacesIt) {
  EXPECT_THAT(tolvan::test::FailureOf([&] {
                ExecutarPgDump(ToolFolder(), cluster_->host, cluster_->port, template_,
                               cluster_->user, "senha errada", dump_.string(), false);
              }),
              AllOf(StartsWith("Backup:\r\n"), HasSubstr("password authentication failed")));
  EXPECT_EQ(Bytes(dump_), good_);
  EXPECT_THAT(Leftovers(), IsEmpty());

  CriarBackup(host_.get());
  const std::string fresh = Bytes(dump_);
  EXPECT_NE(fresh, good_);
  EXPECT_THAT(fresh, HasSubstr("nova 1000"));
  EXPECT_THAT(Leftovers(), IsEmpty());
  EXPECT_TRUE(host_->Connected());
}

TEST_F(PostgresBackupFiles, APgDumpKilledWhileItWaitsLeavesTheGoodDump) {
  // Another session holds the table, so pg_dump waits with its output file open.
  auto locker = Connect(template_);
  locker->ExecuteDirect("begin; lock table t in access exclusive mode");
  auto run = std::async(std::launch::async,
                        [&] { return tolvan::test::FailureOf([&] { CriarBackup(host_.get()); }); });

  const std::string tool = (app_ / "PostgreSQL" / "pg_dump").string();
  std::vector<pid_t> pids;
  for (int i = 0; i < 200 && pids.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pids = ProcessesWith(tool + " -h", "--version");
  }
  ASSERT_EQ(pids.size(), 1u) << "pg_dump did not start";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // While it waits, it writes beside the dump, never into it.
  EXPECT_EQ(Bytes(dump_), good_);
  EXPECT_EQ(Leftovers().size(), 1u);
  ::kill(pids[0], SIGKILL);

  EXPECT_EQ(run.get(), "Backup:\r\nError cod: 137");
  locker->ExecuteDirect("rollback");
  EXPECT_EQ(Bytes(dump_), good_);
  EXPECT_THAT(Leftovers(), IsEmpty());
  EXPECT_TRUE(host_->Connected());
}

TEST_F(PostgresBackupFiles, AMissingFolderOrAFullDiskEndsClearlyAndKeepsWhatWasThere) {
  const fs::path temp = app_ / "temp";
  fs::rename(temp, app_ / "temp-fora");
  EXPECT_EQ(tolvan::test::FailureOf([&] { CriarBackup(host_.get()); }),
            "Backup:\r\nNão foi possível criar o arquivo de backup \"" + dump_.string() +
                "\": a pasta não existe.");
  EXPECT_TRUE(host_->Connected());
  EXPECT_FALSE(fs::exists(temp));
  fs::rename(app_ / "temp-fora", temp);

  // A disk too small for the dump: a tmpfs of 64 KiB, holding the good dump of a smaller table.
  fs::create_directories(app_ / "pequeno");
  const std::string small = (app_ / "pequeno").string();
  if (::mount("tolvan-test", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                 << "); the full-disk case is not tried";
  }
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{small};
  const fs::path kept = app_ / "pequeno" / "loja.dump";
  std::ofstream(kept, std::ios::binary) << "backup bom de ontem";
  host_->ExecuteDirect(
      "insert into t select g, repeat(md5(g::text), 4) from generate_series(1, 20000) g");
  EXPECT_THAT(tolvan::test::FailureOf([&] {
                ExecutarPgDump(ToolFolder(), cluster_->host, cluster_->port, template_,
                               cluster_->user, cluster_->password, kept.string(), false);
              }),
              AllOf(StartsWith("Backup:\r\n"), HasSubstr("No space left on device")));
  EXPECT_EQ(Bytes(kept), "backup bom de ontem");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(app_ / "pequeno")) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_THAT(names, ::testing::ElementsAre("loja.dump"));
}

// A temporary folder shared by the machine's users, as /tmp is: another user's pg_dump.cmd there
// (theirs alone, 0600) neither stops a backup nor changes, and the run leaves nothing there.
TEST_F(PostgresBackupFiles, AnotherUsersCommandFileInTheSharedTemporaryFolderIsLeftAlone) {
  const fs::path shared = app_ / "tmp-compartilhado";
  fs::create_directories(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  const platform::ScopedEnvironmentOverride environment;
  platform::SetEnv("TMPDIR", shared.string());
  const fs::path theirs = shared / "pg_dump.cmd";
  std::ofstream(theirs) << "de outro usuário";
  fs::permissions(theirs, fs::perms::owner_read | fs::perms::owner_write);
  const uid_t nobody = 65534;
  const bool chowned = ::chown(theirs.c_str(), nobody, nobody) == 0;

  CriarBackup(host_.get());
  EXPECT_THAT(Bytes(app_ / "temp" / (template_ + ".dump")), HasSubstr("nova 1000"));
  struct stat after {};
  ASSERT_EQ(::lstat(theirs.c_str(), &after), 0);
  if (chowned) {
    EXPECT_EQ(after.st_uid, nobody);
  }
  EXPECT_EQ(Bytes(theirs), "de outro usuário");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(shared)) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_THAT(names, ::testing::ElementsAre("pg_dump.cmd"));
}

TEST_F(PostgresBackupFiles, AnApplicationFolderWithBlanksAndAccentsRunsTheRealTools) {
  const fs::path app = app_ / "Program Files" / "Tolvan Açaí";
  fs::create_directories(app / "PostgreSQL");
  fs::create_directories(app / "temp");
  for (const char* tool : {"pg_dump", "pg_restore"}) {
    fs::copy_file(std::string(TOLVAN_PG_BIN) + tool, app / "PostgreSQL" / tool);
  }
  // One override at a time: the old one's end would undo the new one.
  exe_.reset();
  exe_ = std::make_unique<platform::ScopedExecutablePathOverride>((app / "host").string());

  CriarBackup(host_.get());
  const fs::path dump = app / "temp" / (template_ + ".dump");
  EXPECT_THAT(Bytes(dump), HasSubstr("nova 1000"));

  const std::string copy = NewDatabaseName("Copia_Acai");
  CriarDataBaseVazia(&dm_, copy);
  auto target = Connect(copy);
  EXPECT_EQ(One(*target, "select count(*) from t"), "0");
  EXPECT_FALSE(fs::exists(app / "temp" / "BkpTemp.tar"));
}

TEST_F(PostgresCluster, ACollationTheServerLacksIsReportedWithTheDatabasesName) {
  // A blank collation on the attached database makes the fallback text the choice.
  auto admin = Connect("postgres");
  admin->ExecuteDirect("update pg_database set datcollate = '', datctype = '' where datname = '" +
                       template_ + "'");
  const std::string name = NewDatabaseName("Sem_Locale");
  const std::string message = tolvan::test::FailureOf([&] { CriarDataBase(&dm_, name, "", ""); });
  EXPECT_THAT(message, StartsWith("O banco de dados \"" + name +
                                  "\" foi criado com a collation \"pt_BR.ISO-8859-1\", mas não "
                                  "pode ser aberto"));
  EXPECT_THAT(message, HasSubstr("database locale is incompatible with operating system"));

  const std::string fd = NewDatabaseName("Sem_Locale_FD");
  admin->ExecuteDirect(
      "update pg_database set datcollate = '', datctype = '' where datname = "
      "'postgres'");
  const std::string fd_message = tolvan::test::FailureOf([&] {
    CriarDataBaseFD(cluster_->host, std::stoi(cluster_->port), fd, cluster_->user,
                    cluster_->password);
  });
  admin->ExecuteDirect(
      "update pg_database set datcollate = 'C.UTF-8', datctype = 'C.UTF-8' "
      "where datname = 'postgres'");
  EXPECT_THAT(fd_message, StartsWith("O banco de dados \"" + fd + "\" foi criado com a collation"));
}

}  // namespace
}  // namespace tolvan::postgresql
