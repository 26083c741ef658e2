#include "FirebirdProgress.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "PostgresProgress.h"
#include "Verify.h"
#include "VerifyPostgres.h"
#include "platform/Interrupt.h"

namespace tolvan::cli {
namespace {

// The tables whose data gbak writes: neither views nor system tables, nor external tables (their
// data stays in their files) nor temporary ones (no rows outlive a session). A name keeps its
// leading blanks, which a quoted name may have.
constexpr const char* kUserTablesSql =
    "select trim(trailing from rdb$relation_name) from rdb$relations where "
    "coalesce(rdb$system_flag, 0) = 0 and rdb$view_blr is null and rdb$external_file is null and "
    "coalesce(rdb$relation_type, 0) = 0";

}  // namespace

std::unique_ptr<TableRowCounter> TableRowCounter::Start(Connect connect, Deliver deliver) {
  std::unique_ptr<TableRowCounter> counter(
      new TableRowCounter(std::move(connect), std::move(deliver)));
  try {
    counter->connection_ = counter->connect_();
    counter->connection_->Open();
    const auto id = QueryRows(*counter->connection_, "select current_connection from rdb$database");
    counter->attachment_ = id.at(0).at(0);
  } catch (const std::exception&) {
    if (tolvan::platform::InterruptSignal() != 0) {
      throw;
    }
    return nullptr;
  }
  counter->thread_ = std::thread([counter = counter.get()] { counter->Count(); });
  return counter;
}

void TableRowCounter::Count() {
  std::optional<TableRows> rows;
  try {
    rows.emplace();
    for (const auto& table : QueryRows(*connection_, kUserTablesSql)) {
      if (std::lock_guard lock(mutex_); stopping_) {
        break;
      }
      const auto count =
          QueryRows(*connection_, "select count(*) from " + Enclosed(table.at(0), '"'));
      rows->emplace(table.at(0), std::stoull(count.at(0).at(0)));
    }
  } catch (const std::exception&) {
    rows.reset();
  }
  std::lock_guard lock(mutex_);
  counted_ = true;
  // Under the lock: once the counter is ending, nothing reaches the frame.
  if (!stopping_) {
    deliver_(std::move(rows));
  }
}

void TableRowCounter::EndCountingConnection() const {
  try {
    const auto other = connect_();
    other->Open();
    other->ExecuteDirect("delete from mon$attachments where mon$attachment_id = " + attachment_);
    other->Close();
  } catch (const std::exception&) {
    // The count then ends by itself.
  }
}

TableRowCounter::~TableRowCounter() {
  bool counting = false;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    counting = thread_.joinable() && !counted_;
  }
  if (counting) {
    EndCountingConnection();
  }
  JoinAndClose(thread_, connection_);
}

}  // namespace tolvan::cli
