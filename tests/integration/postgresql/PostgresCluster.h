// The private test cluster (scripts/postgres-server) for the PostgreSQL integration tests: an
// application folder of its own with the real pg_dump and pg_restore in its tool folder, a
// template database made for the test, and the host's connection to it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "TolvanPostgreSQLUtil.h"
#include "ci/PostgresTestCluster.h"
#include "ci/SkipOrFail.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/DefaultConnection.h"

namespace tolvan::postgresql {

namespace fs = std::filesystem;

using Cluster = tolvan::test::PostgresCluster;

inline std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The pids of running programs whose command line holds `text` and not `unless`.
inline std::vector<pid_t> ProcessesWith(const std::string& text, const std::string& unless) {
  std::vector<pid_t> pids;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::string line = Bytes(entry.path() / "cmdline");
    for (char& c : line) {
      c = c == '\0' ? ' ' : c;
    }
    if (line.find(text) != std::string::npos && line.find(unless) == std::string::npos) {
      pids.push_back(static_cast<pid_t>(std::stol(name)));
    }
  }
  return pids;
}

inline std::string Unique(const std::string& stem) {
  static int counter = 0;
  return stem + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

class PostgresCluster : public ::testing::Test {
 protected:
  void SetUp() override {
    cluster_ = tolvan::test::FindPostgresCluster();
    if (!cluster_) {
      TOLVAN_SKIP_OR_FAIL(
          "no PostgreSQL test cluster (TOLVAN_PG_*); scripts/postgres-server start");
    }
    app_ = fs::temp_directory_path() / Unique("tolvan-pg-app");
    fs::create_directories(app_ / "PostgreSQL");
    fs::create_directories(app_ / "temp");
    for (const char* tool : {"pg_dump", "pg_restore"}) {
      fs::copy_file(std::string(TOLVAN_PG_BIN) + tool, app_ / "PostgreSQL" / tool);
    }
    exe_ = std::make_unique<platform::ScopedExecutablePathOverride>((app_ / "host").string());
    template_ = Unique("tpl");
    auto admin = Connect("postgres");
    admin->ExecuteDirect("CREATE DATABASE " + template_);
    host_ = Connect(template_);
    dm_.SQLConnection = host_.get();
    vesk::SetDefaultConnection(host_.get());
  }

  void TearDown() override {
    vesk::SetDefaultConnection(nullptr);
    host_.reset();
    exe_.reset();
    if (!app_.empty()) {
      std::error_code ignored;
      fs::remove_all(app_, ignored);
    }
    if (cluster_) {
      auto admin = Connect("postgres");
      for (const auto& name : dropped_) {
        admin->ExecuteDirect("DROP DATABASE IF EXISTS \"" + name + "\" WITH (FORCE)");
      }
      admin->ExecuteDirect("DROP DATABASE IF EXISTS " + template_ + " WITH (FORCE)");
    }
  }

  std::string Key(const std::string& database) const {
    return cluster_->host + "/" + cluster_->port + ":" + database;
  }

  // A host connection as tolvan builds it: the key in Database.
  std::unique_ptr<TVeskSQLConnection> Connect(const std::string& database,
                                              const std::string& password = "") {
    auto conn = std::make_unique<TVeskSQLConnection>();
    ConfigurarSQLConnection(conn.get(), 3);
    conn->Params = {"Database=" + Key(database), "USER_NAME=" + cluster_->user,
                    "PASSWORD=" + (password.empty() ? cluster_->password : password)};
    conn->Open();
    return conn;
  }

  std::vector<std::string> Column(TVeskSQLConnection& conn, const std::string& sql) {
    TVeskQuery query;
    query.SQLConnection = &conn;
    query.SQL = sql;
    query.Open();
    std::vector<std::string> values;
    for (; !query.Eof(); query.Next()) {
      values.push_back(query.FieldAsString(0));
    }
    return values;
  }

  std::string One(TVeskSQLConnection& conn, const std::string& sql) {
    auto values = Column(conn, sql);
    return values.empty() ? "<none>" : values.front();
  }

  std::string NewDatabaseName(const std::string& stem) {
    dropped_.push_back(Unique(stem));
    return dropped_.back();
  }

  std::optional<Cluster> cluster_;
  fs::path app_;
  std::unique_ptr<platform::ScopedExecutablePathOverride> exe_;
  std::string template_;
  std::unique_ptr<TVeskSQLConnection> host_;
  TVeskDMConexao dm_;
  std::vector<std::string> dropped_;
};

}  // namespace tolvan::postgresql
