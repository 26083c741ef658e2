// The bytes of the services query: the service name, the parameter block sent on attach and the
// reply to the server database information request. Pure functions, nothing loaded.
#include <array>
#include <stdexcept>
#include <string>

#include "TolvanFirebirdUtil.h"
#include "tolvan/support/DatabaseKey.h"
#include "tolvan/support/Text.h"

namespace tolvan::firebird {
namespace {

struct KnownName {
  std::string_view name;
  unsigned char code;
  bool accepted;
};

// Searched in this order; the first equal name wins.
constexpr std::array<KnownName, 15> kKnownNames{{
    {"version1", 1, false},
    {"current_version", 2, false},
    {"version", 2, false},
    {"user_name", 28, true},
    {"sys_user_name", 19, false},
    {"sys_user_name_enc", 31, false},
    {"password", 29, true},
    {"password_enc", 30, false},
    {"command_line", 105, false},
    {"dbname", 106, false},
    {"verbose", 107, false},
    {"options", 108, false},
    {"connect_timeout", 57, false},
    {"dummy_packet_interval", 58, false},
    {"sql_role_name", 60, true},
}};

constexpr std::string_view kSpbPrefix = "isc_spb_";
constexpr std::size_t kMaxValueLength = 255;

[[noreturn]] void Unexpected() {
  throw std::runtime_error(std::string(kUnexpectedReply));
}

// Reads the reply front to back; every read checks that the bytes are there.
class ReplyReader {
 public:
  ReplyReader(std::string_view reply, IscVaxIntegerFn vax_integer)
      : reply_(reply), vax_integer_(vax_integer) {}

  unsigned char Byte() {
    Need(1);
    return static_cast<unsigned char>(reply_[pos_++]);
  }
  unsigned char PeekByte() {
    Need(1);
    return static_cast<unsigned char>(reply_[pos_]);
  }
  void Expect(unsigned char value) {
    if (Byte() != value) {
      Unexpected();
    }
  }
  int32_t Integer(int16_t length) {
    Need(static_cast<std::size_t>(length));
    const int32_t value = vax_integer_(reply_.data() + pos_, length);
    pos_ += static_cast<std::size_t>(length);
    return value;
  }
  std::string Text(std::size_t length) {
    Need(length);
    std::string text(reply_.substr(pos_, length));
    pos_ += length;
    return text;
  }

 private:
  void Need(std::size_t n) const {
    if (reply_.size() - pos_ < n) {
      Unexpected();
    }
  }

  std::string_view reply_;
  IscVaxIntegerFn vax_integer_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string ServiceManagerName(const std::string& database_key) {
  // No ":" at all is an alias or a relative path on the local server.
  const std::string host = support::SplitDatabaseKey(database_key).Server();
  return host.empty() ? "service_mgr" : host + ":service_mgr";
}

std::string BuildServiceParameterBlock(const std::vector<std::string>& params) {
  std::string block{isc::kSpbVersion, isc::kSpbCurrentVersion};
  for (const std::string& line : params) {
    const std::size_t eq = line.find('=');
    const std::string_view raw_name = std::string_view(line).substr(0, eq);
    if (support::IsBlank(raw_name)) {
      continue;
    }
    std::string name = support::AsciiLower(raw_name);
    if (name.compare(0, kSpbPrefix.size(), kSpbPrefix) == 0) {
      name.erase(0, kSpbPrefix.size());
    }
    const KnownName* known = nullptr;
    for (const KnownName& k : kKnownNames) {
      if (k.name == name) {
        known = &k;
        break;
      }
    }
    if (known == nullptr) {
      continue;
    }
    if (!known->accepted) {
      throw std::runtime_error(std::string(kSpbUnknown));
    }
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    if (value.size() > kMaxValueLength) {
      throw std::runtime_error("Valor longo demais para o SPB: " + name + " tem " +
                               std::to_string(value.size()) + " bytes, e cabem no máximo 255");
    }
    block += static_cast<char>(known->code);
    block += static_cast<char>(value.size());
    block += value;
  }
  return block;
}

void ParseDatabasesReply(std::string_view reply, IscVaxIntegerFn vax_integer, DatabasesReply& out) {
  ReplyReader reader(reply, vax_integer);
  reader.Expect(isc::kInfoSvrDbInfo);
  reader.Expect(isc::kSpbNumAtt);
  out.attachments = reader.Integer(4);
  reader.Expect(isc::kSpbNumDb);
  out.databases = reader.Integer(4);
  while (reader.PeekByte() != isc::kInfoFlagEnd) {
    reader.Expect(isc::kSpbDbName);
    const int32_t length = reader.Integer(2);
    if (length < 0) {
      Unexpected();
    }
    out.names.push_back(reader.Text(static_cast<std::size_t>(length)));
  }
}

}  // namespace tolvan::firebird
