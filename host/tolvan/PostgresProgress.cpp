#include "PostgresProgress.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>
#include <utility>

#include "Verify.h"
#include "VerifyPostgres.h"
#include "platform/ConnectLimit.h"

namespace tolvan::cli {
namespace {

constexpr auto kPollPeriod = std::chrono::milliseconds(250);

// pg_dump copies the data of every ordinary table of the user's schemas that is no extension's,
// sorted by schema and name byte by byte. Each weighs its size, the table's own with its TOAST data
// (what COPY writes of it); its rows are the statistics' live count, else the planner's count.
// pg_table_size takes only the lock that reading a table takes, which never waits on pg_dump's.
constexpr const char* kDumpPlanSql =
    "select n.nspname || '.' || c.relname, coalesce(pg_table_size(c.oid), 0), case when "
    "coalesce(s.n_live_tup, 0) > 0 then s.n_live_tup when c.reltuples > 0 then "
    "c.reltuples::bigint else -1 end from pg_class c join pg_namespace n on n.oid = "
    "c.relnamespace left join pg_stat_user_tables s on s.relid = c.oid where c.relkind = 'r' and "
    "n.nspname not in ('pg_catalog', 'information_schema') and n.nspname not like 'pg\\_toast%' "
    "and n.nspname not like 'pg\\_temp\\_%' and not exists (select 1 from pg_depend d where "
    "d.classid = 'pg_class'::regclass and d.objid = c.oid and d.deptype = 'e') order by "
    "n.nspname collate \"C\", c.relname collate \"C\"";

// The COPYs that the tool's sessions run in this database, started after the poller began (so
// that an earlier run's tool is not taken for this one) by the same user.
std::string ReadingsSql(bool dump, const std::string& since) {
  return std::string(
             "select n.nspname || '.' || c.relname, p.bytes_processed, p.tuples_processed from "
             "pg_stat_progress_copy p join pg_stat_activity a on a.pid = p.pid join pg_class c on "
             "c.oid = p.relid join pg_namespace n on n.oid = c.relnamespace where p.datname = "
             "current_database() and a.usename = current_user and p.command = ") +
         (dump ? "'COPY TO' and a.application_name = 'pg_dump'"
               : "'COPY FROM' and a.application_name = 'pg_restore'") +
         " and a.backend_start >= " + Enclosed(since, '\'') + "::timestamptz";
}

std::uint64_t Number(const std::string& text) {
  return text.empty() || text.front() == '-' ? 0 : std::stoull(text);
}

}  // namespace

CopyProgress::CopyProgress(std::vector<CopyTable> plan)
    : plan_(std::move(plan)), done_(plan_.size(), false) {
  for (CopyTable& table : plan_) {
    // An empty table still takes a step, so that a run of empty tables moves too.
    table.weight = std::max<std::uint64_t>(table.weight, 1);
    total_ += table.weight;
  }
}

void CopyProgress::Feed(const std::vector<CopyReading>& copying) {
  if (percent_ == 100) {
    return;
  }
  // The table furthest in the plan that copies now, and how far its COPY is.
  std::optional<std::size_t> now;
  double fraction = 0;
  for (const CopyReading& reading : copying) {
    const auto at = std::find_if(plan_.begin(), plan_.end(), [&](const CopyTable& table) {
      return table.name == reading.table;
    });
    if (at == plan_.end()) {
      continue;
    }
    const auto index = static_cast<std::size_t>(at - plan_.begin());
    if (now && index < *now) {
      continue;
    }
    now = index;
    if (at->bytes && *at->bytes > 0) {
      fraction = static_cast<double>(reading.bytes) / static_cast<double>(*at->bytes);
    } else if (at->rows && *at->rows > 0) {
      fraction = static_cast<double>(reading.tuples) / static_cast<double>(*at->rows);
    } else {
      fraction = 0;
    }
  }
  const auto finish = [&](std::size_t index) {
    if (!done_[index]) {
      done_[index] = true;
      ++done_count_;
    }
  };
  if (current_ && current_ != now) {
    finish(*current_);
  }
  if (now) {
    for (std::size_t i = 0; i < *now; ++i) {
      finish(i);
    }
  }
  current_ = now;

  std::uint64_t done_weight = 0;
  for (std::size_t i = 0; i < plan_.size(); ++i) {
    done_weight += done_[i] ? plan_[i].weight : 0;
  }
  double share = static_cast<double>(done_weight);
  if (current_ && !done_[*current_]) {
    share += std::clamp(fraction, 0.0, 1.0) * static_cast<double>(plan_[*current_].weight);
  }
  const int percent =
      total_ == 0 ? 0 : std::min(99, static_cast<int>(share * 100 / static_cast<double>(total_)));
  percent_ = std::max(percent_.value_or(0), percent);
}

void CopyProgress::AllCopied() {
  if (percent_ && percent_ < 100) {
    done_.assign(plan_.size(), true);
    done_count_ = plan_.size();
    current_.reset();
    percent_ = 99;
  }
}

void CopyProgress::Complete() {
  percent_ = 100;
  done_.assign(plan_.size(), true);
  done_count_ = plan_.size();
}

ProgressState CopyProgress::State() const {
  return {percent_, plan_.size(), done_count_, 0};
}

CopyProgressPoller::~CopyProgressPoller() {
  Stop();
}

bool CopyProgressPoller::StartForDump(const TVeskSQLConnection& like) {
  return Start(like, like.GetDATABASENAME_KEY(), true, std::nullopt);
}

bool CopyProgressPoller::StartForRestore(const TVeskSQLConnection& like,
                                         const std::string& database_key,
                                         std::vector<CopyTable> plan) {
  return Start(like, database_key, false, std::move(plan));
}

bool CopyProgressPoller::Start(const TVeskSQLConnection& like, const std::string& database_key,
                               bool dump, std::optional<std::vector<CopyTable>> plan) {
  Stop();
  try {
    connection_ = ConnectionLike(like, database_key);
    connection_->Open();
    // Nothing it asks may wait long: not on a lock someone else holds, not on a busy server.
    connection_->ExecuteDirect("set lock_timeout = 1000");
    connection_->ExecuteDirect("set statement_timeout = 5000");
    connection_->ExecuteDirect("set application_name = 'tolvan progresso'");
    const auto check = QueryRows(
        *connection_,
        "select (to_regclass('pg_catalog.pg_stat_progress_copy') is not null)::text, now()::text");
    if (check.empty() || check.front().at(0) != "true") {
      Stop();
      return false;
    }
    if (!plan) {
      plan.emplace();
      for (const auto& row : QueryRows(*connection_, kDumpPlanSql)) {
        CopyTable table{row.at(0), Number(row.at(1)), std::nullopt, std::nullopt};
        if (!row.at(2).empty() && row.at(2).front() != '-') {
          table.rows = Number(row.at(2));
        }
        plan->push_back(std::move(table));
      }
    }
    readings_sql_ = ReadingsSql(dump, check.front().at(1));
    std::lock_guard lock(mutex_);
    progress_.emplace(std::move(*plan));
    failed_ = false;
    stopping_ = false;
  } catch (const tolvan::platform::EConnectCut& cut) {
    Stop();
    if (cut.interrupted()) {
      throw;
    }
    return false;
  } catch (const std::exception&) {
    Stop();
    return false;
  }
  thread_ = std::thread([this] { Poll(); });
  return true;
}

void CopyProgressPoller::Poll() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    std::vector<CopyReading> readings;
    bool read = true;
    try {
      for (const auto& row : QueryRows(*connection_, readings_sql_)) {
        readings.push_back({row.at(0), Number(row.at(1)), Number(row.at(2))});
      }
    } catch (const std::exception&) {
      read = false;
    }
    lock.lock();
    if (!read) {
      failed_ = true;
      return;
    }
    progress_->Feed(readings);
    wake_.wait_for(lock, kPollPeriod, [this] { return stopping_; });
  }
}

void CopyProgressPoller::Stop(bool tool_succeeded) {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    if (tool_succeeded && progress_ && !failed_) {
      progress_->AllCopied();
    }
  }
  wake_.notify_all();
  JoinAndClose(thread_, connection_);
}

void JoinAndClose(std::thread& thread, std::unique_ptr<TVeskSQLConnection>& connection) {
  if (thread.joinable()) {
    thread.join();
  }
  if (connection) {
    try {
      connection->Close();
    } catch (const std::exception&) {
      // Nothing more to say: the connection may have been ended from the server.
    }
    connection.reset();
  }
}

ProgressState CopyProgressPoller::State() const {
  std::lock_guard lock(mutex_);
  if (failed_ || !progress_) {
    return {};
  }
  return progress_->State();
}

std::function<ProgressState()> ProgressReader(const std::shared_ptr<CopyProgressPoller>& poller) {
  return [weak = std::weak_ptr<CopyProgressPoller>(poller)] {
    const auto poller = weak.lock();
    return poller ? poller->State() : ProgressState{};
  };
}

}  // namespace tolvan::cli
