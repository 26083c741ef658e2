#include "FirebirdProgress.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "PostgresProgress.h"
#include "Verify.h"
#include "VerifyPostgres.h"
#include "platform/Interrupt.h"
#include "platform/Utf8Path.h"

namespace tolvan::cli {
namespace {

// The tables whose data gbak writes, of rdb$relations r: neither views nor system tables, nor
// external tables (their data stays in their files) nor temporary ones (no rows outlive a
// session).
#define TOLVAN_USER_TABLE                                                                  \
  "coalesce(r.rdb$system_flag, 0) = 0 and r.rdb$view_blr is null and r.rdb$external_file " \
  "is null and coalesce(r.rdb$relation_type, 0) = 0"

// Their names, each keeping its leading blanks, which a quoted name may have.
constexpr const char* kUserTablesSql =
    "select trim(trailing from r.rdb$relation_name) from rdb$relations r where " TOLVAN_USER_TABLE;

// Each with the pointer pages the catalog lists for it (0, the header page's number, for a table
// that has none).
constexpr const char* kPointerPagesSql =
    "select trim(trailing from r.rdb$relation_name), r.rdb$relation_id, "
    "coalesce(p.rdb$page_number, 0) from rdb$relations r left join rdb$pages p on "
    "p.rdb$relation_id = r.rdb$relation_id and p.rdb$page_type = 4 where " TOLVAN_USER_TABLE;

#undef TOLVAN_USER_TABLE

// Where the on-disk structure of Firebird 3 and 4 (ODS 12 and 13) keeps what the estimate reads,
// in the machine's byte order: every page starts with its type; a pointer page (type 4) has the
// count of its slots at 24, its table at 26 and the data pages' numbers from 32; a data page
// (type 5) has its table at 20 and its count of records at 22.
constexpr unsigned char kPointerPage = 4;
constexpr unsigned char kDataPage = 5;
constexpr std::size_t kPointerSlots = 24;
constexpr std::size_t kPointerTable = 26;
constexpr std::size_t kPointerPages = 32;
constexpr std::size_t kDataTable = 20;
constexpr std::size_t kDataRecords = 22;

template <typename T>
T At(const std::vector<char>& page, std::size_t offset) {
  T value{};
  std::memcpy(&value, page.data() + offset, sizeof value);
  return value;
}

class PageReader {
 public:
  PageReader(const std::string& file, std::size_t page_size)
      : in_(tolvan::platform::Utf8Path(file), std::ios::binary), page_(page_size) {}

  // The page of that number, when it is of that type and that table's.
  const std::vector<char>* Read(std::uint32_t number, unsigned char type, std::size_t table_at,
                                std::uint16_t table) {
    in_.seekg(static_cast<std::streamoff>(number) * static_cast<std::streamoff>(page_.size()));
    if (!in_.read(page_.data(), static_cast<std::streamsize>(page_.size()))) {
      in_.clear();
      return nullptr;
    }
    if (static_cast<unsigned char>(page_[0]) != type ||
        At<std::uint16_t>(page_, table_at) != table) {
      return nullptr;
    }
    return &page_;
  }

 private:
  std::ifstream in_;
  std::vector<char> page_;
};

}  // namespace

std::optional<TableRows> EstimateLocalTableRows(TVeskSQLConnection& connection,
                                                const std::string& file) {
  struct Table {
    std::uint16_t id = 0;
    std::vector<std::uint32_t> pointer_pages;
  };
  std::map<std::string, Table> tables;
  std::size_t page_size = 0;
  try {
    page_size =
        std::stoul(QueryRows(connection, "select mon$page_size from mon$database").at(0).at(0));
    for (const auto& row : QueryRows(connection, kPointerPagesSql)) {
      Table& table = tables[row.at(0)];
      table.id = static_cast<std::uint16_t>(std::stoul(row.at(1)));
      if (const auto number = std::stoul(row.at(2)); number != 0) {
        table.pointer_pages.push_back(static_cast<std::uint32_t>(number));
      }
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (page_size < kPointerPages + 4) {
    return std::nullopt;
  }
  PageReader reader(file, page_size);
  TableRows rows;
  for (const auto& [name, table] : tables) {
    std::vector<std::uint32_t> data_pages;
    for (const std::uint32_t number : table.pointer_pages) {
      const auto* page = reader.Read(number, kPointerPage, kPointerTable, table.id);
      if (page == nullptr) {
        return std::nullopt;
      }
      const std::size_t slots =
          std::min<std::size_t>(At<std::uint16_t>(*page, kPointerSlots),
                                (page_size - kPointerPages) / sizeof(std::uint32_t));
      for (std::size_t slot = 0; slot < slots; ++slot) {
        // A slot of a page given back holds 0.
        if (const auto data = At<std::uint32_t>(*page, kPointerPages + slot * 4); data != 0) {
          data_pages.push_back(data);
        }
      }
    }
    // Every page of a small table; of a larger one, pages spread evenly from its first. The last
    // few are left to chance: a table's newest pages are given out several at a time and wait
    // empty, and one of them sampled would weigh a sixteenth of the table.
    std::uint64_t records = 0;
    const std::size_t sampled = std::min(kSampledDataPages, data_pages.size());
    for (std::size_t i = 0; i < sampled; ++i) {
      const auto* page =
          reader.Read(data_pages[i * data_pages.size() / sampled], kDataPage, kDataTable, table.id);
      if (page == nullptr) {
        return std::nullopt;
      }
      records += At<std::uint16_t>(*page, kDataRecords);
    }
    rows.emplace(name, sampled == 0 ? 0 : records * data_pages.size() / sampled);
  }
  return rows;
}

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
