// The data-access library's security service client: the Services API user actions of the
// server's service manager (add, delete, modify, display).
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Names.h"
#include "firebird/FirebirdClient.h"
#include "firebird/IBComponents.h"
#include "platform/Text.h"
#include "vesk/VeskPack5.h"

namespace vesk::firebird {
namespace {

using ServiceAttach = IscStatus (*)(IscStatus*, uint16_t, const char*, IscHandle*, uint16_t,
                                    const char*);
using ServiceDetach = IscStatus (*)(IscStatus*, IscHandle*);
using ServiceStart = IscStatus (*)(IscStatus*, IscHandle*, IscHandle*, uint16_t, const char*);
using ServiceQuery = IscStatus (*)(IscStatus*, IscHandle*, IscHandle*, uint16_t, const char*,
                                   uint16_t, const char*, uint16_t, char*);

constexpr char kSpbVersion = 2;
constexpr char kSpbCurrentVersion = 2;
constexpr char kSpbUserName = 28;
constexpr char kSpbPassword = 29;
constexpr char kSpbSqlRoleName = 60;
// Says that every text of this service, in its attach block and in the actions started on it, is
// UTF-8; without it the client and the server read them in their own character sets and refuse
// or garble any letter outside ASCII.
constexpr char kSpbUtf8Texts = 118;

constexpr char kActionAddUser = 4;
constexpr char kActionDeleteUser = 5;
constexpr char kActionModifyUser = 6;
constexpr char kActionDisplayUser = 7;

constexpr unsigned char kSecUserId = 5;
constexpr unsigned char kSecGroupId = 6;
constexpr unsigned char kSecUserName = 7;
constexpr unsigned char kSecPassword = 8;
constexpr unsigned char kSecFirstName = 10;
constexpr unsigned char kSecMiddleName = 11;
constexpr unsigned char kSecLastName = 12;
constexpr unsigned char kSecAdmin = 13;

constexpr unsigned char kInfoEnd = 1;
constexpr unsigned char kInfoTruncated = 2;
constexpr unsigned char kInfoDataNotReady = 4;
constexpr unsigned char kInfoSvcLine = 62;
constexpr unsigned char kInfoSvcGetUsers = 68;

constexpr std::size_t kReplyLength = 32000;
// A service that keeps answering without ever ending is given up on after this many replies.
constexpr int kMaxReplies = 100000;

struct Status {
  IscStatus vector[kStatusLength] = {};
  IscStatus* get() { return vector; }
};

void AppendSpbText(std::string& spb, char tag, const std::string& value, const char* what) {
  if (value.size() > 255) {
    throw TVeskDriverError(std::string(what) + " passa de 255 bytes");
  }
  spb += tag;
  spb += static_cast<char>(value.size());
  spb += value;
}

// Arguments of a service start carry a two-byte length.
void AppendStartText(std::string& spb, unsigned char tag, const std::string& value,
                     const char* what) {
  if (value.size() > 0xFFFF) {
    throw TVeskDriverError(std::string(what) + " passa de 65535 bytes");
  }
  spb += static_cast<char>(tag);
  spb += static_cast<char>(value.size() & 0xFF);
  spb += static_cast<char>((value.size() >> 8) & 0xFF);
  spb += value;
}

// Reads one reply of the client front to back, every read checked against its length.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  unsigned char Byte() {
    Need(1);
    return static_cast<unsigned char>(bytes_[pos_++]);
  }
  uint32_t Unsigned(std::size_t n) {
    Need(n);
    uint32_t value = 0;
    for (std::size_t i = 0; i < n; ++i) {
      value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes_[pos_ + i])) << (8 * i);
    }
    pos_ += n;
    return value;
  }
  std::string_view Bytes(std::size_t n) {
    Need(n);
    const std::string_view out = bytes_.substr(pos_, n);
    pos_ += n;
    return out;
  }

 private:
  void Need(std::size_t n) const {
    if (bytes_.size() - pos_ < n) {
      throw TVeskDriverError("A resposta do gerenciador de serviços veio incompleta");
    }
  }
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

// The service was told its texts are UTF-8, so the server sends UTF-8; a name stored by a client
// that sent its own code page may still come back in it.
std::string Utf8Text(std::string_view bytes) {
  std::string text = tolvan::platform::SanitizeUtf8(bytes);
  return text == bytes ? text : tolvan::platform::FromSystemCodePage(bytes);
}

// The users of the display action's output: a user name begins each record.
std::vector<TVeskIBUserInfo> ParseUsers(std::string_view stream) {
  std::vector<TVeskIBUserInfo> users;
  Reader reader(stream);
  while (!reader.AtEnd()) {
    const unsigned char tag = reader.Byte();
    switch (tag) {
      case kSecUserName:
      case kSecFirstName:
      case kSecMiddleName:
      case kSecLastName: {
        const std::string text = Utf8Text(reader.Bytes(reader.Unsigned(2)));
        if (tag == kSecUserName) {
          users.push_back({text, "", "", ""});
        } else if (users.empty()) {
          throw TVeskDriverError(
              "O gerenciador de serviços enviou um nome antes do usuário a que pertence");
        } else if (tag == kSecFirstName) {
          users.back().FirstName = text;
        } else if (tag == kSecMiddleName) {
          users.back().MiddleName = text;
        } else {
          users.back().LastName = text;
        }
        break;
      }
      case kSecUserId:
      case kSecGroupId:
      case kSecAdmin:
        reader.Unsigned(4);
        break;
      default:
        throw TVeskDriverError("Item inesperado " + std::to_string(tag) +
                               " na lista de usuários do gerenciador de serviços");
    }
  }
  return users;
}

}  // namespace
}  // namespace vesk::firebird

using vesk::firebird::Client;
using vesk::firebird::IscHandle;

struct TVeskIBSecurityService::Impl {
  std::shared_ptr<const Client> client;
  vesk::firebird::ServiceAttach attach = nullptr;
  vesk::firebird::ServiceDetach detach = nullptr;
  vesk::firebird::ServiceStart start = nullptr;
  vesk::firebird::ServiceQuery query = nullptr;
  IscHandle handle = 0;
  // Attached once: after a failed action the handle is given up and the next action attaches
  // anew, as the service manager may answer "busy" on the old one.
  bool attached_once = false;

  void Load() {
    if (client) {
      return;
    }
    auto loaded = Client::Get(vesk::firebird::ComponentsClientLibrary());
    const auto& lib = *loaded->library;
    attach = lib.Function<vesk::firebird::ServiceAttach>("isc_service_attach");
    detach = lib.Function<vesk::firebird::ServiceDetach>("isc_service_detach");
    start = lib.Function<vesk::firebird::ServiceStart>("isc_service_start");
    query = lib.Function<vesk::firebird::ServiceQuery>("isc_service_query");
    if (attach == nullptr || detach == nullptr || start == nullptr || query == nullptr) {
      throw TVeskDriverError(
          "A biblioteca cliente do Firebird não tem as funções de serviços (Services API)");
    }
    client = std::move(loaded);
  }

  void Check(const vesk::firebird::IscStatus* status) {
    if (status[0] == 1 && status[1] != 0) {
      // The server writes the names it was sent into its messages, as UTF-8; a message of the
      // client's own may be in the system's code page.
      std::string text = client->Messages(status, true);
      if (text.find("\xEF\xBF\xBD") != std::string::npos) {
        text = client->Messages(status, false);
      }
      if (text.empty()) {
        text = "Erro do Firebird " + std::to_string(status[1]);
      }
      Release();
      throw TVeskDriverError(text);
    }
  }

  void Release() {
    if (handle != 0) {
      vesk::firebird::Status ignored;
      detach(ignored.get(), &handle);
    }
    handle = 0;
  }

  // Asks for item until the service has nothing more to give; the item's data of every reply,
  // joined. A reply of the item without data ends the output.
  std::string ReadOutput(unsigned char item) {
    std::string output;
    std::string reply(vesk::firebird::kReplyLength, '\0');
    const char request = static_cast<char>(item);
    for (int i = 0; i < vesk::firebird::kMaxReplies; ++i) {
      vesk::firebird::Status status;
      query(status.get(), &handle, nullptr, 0, nullptr, 1, &request,
            static_cast<uint16_t>(reply.size()), reply.data());
      Check(status.get());
      vesk::firebird::Reader reader(reply);
      bool got_data = false;
      bool more = false;
      for (bool done = false; !done;) {
        const unsigned char tag = reader.Byte();
        if (tag == item) {
          const uint32_t length = reader.Unsigned(2);
          output += reader.Bytes(length);
          got_data = got_data || length > 0;
        } else if (tag == vesk::firebird::kInfoTruncated ||
                   tag == vesk::firebird::kInfoDataNotReady) {
          more = true;
          done = true;
        } else if (tag == vesk::firebird::kInfoEnd) {
          done = true;
        } else {
          Release();
          throw TVeskDriverError("Item inesperado " + std::to_string(tag) +
                                 " na resposta do gerenciador de serviços");
        }
      }
      if (!got_data && !more) {
        return output;
      }
    }
    Release();
    throw TVeskDriverError("A saída do gerenciador de serviços não termina");
  }
};

TVeskIBSecurityService::TVeskIBSecurityService() : impl_(std::make_unique<Impl>()) {}

TVeskIBSecurityService::~TVeskIBSecurityService() {
  Detach();
}

void TVeskIBSecurityService::Attach() {
  impl_->Load();
  impl_->Release();
  namespace fb = vesk::firebird;
  std::string name = "service_mgr";
  if (Protocol == TVeskIBProtocol::TCP && !ServerName.empty()) {
    name = ServerName + ":service_mgr";
  }
  if (name.size() > 0xFFFF) {
    throw TVeskDriverError("O nome do servidor passa de 65535 bytes");
  }
  std::string spb{fb::kSpbVersion, fb::kSpbCurrentVersion, fb::kSpbUtf8Texts, 0};
  const std::string user = vesk::detail::ParamOf(Params, "USER_NAME");
  const std::string password = vesk::detail::ParamOf(Params, "PASSWORD");
  const std::string role = vesk::detail::ParamOf(Params, "SQL_ROLE_NAME");
  if (!user.empty()) {
    fb::AppendSpbText(spb, fb::kSpbUserName, user, "O nome de usuário");
  }
  if (!password.empty()) {
    fb::AppendSpbText(spb, fb::kSpbPassword, password, "A senha");
  }
  if (!role.empty()) {
    fb::AppendSpbText(spb, fb::kSpbSqlRoleName, role, "O nome da role");
  }
  fb::Status status;
  {
    const fb::ClientEntry entry;
    impl_->attach(status.get(), static_cast<uint16_t>(name.size()), name.data(), &impl_->handle,
                  static_cast<uint16_t>(spb.size()), spb.data());
  }
  impl_->Check(status.get());
  impl_->attached_once = true;
}

void TVeskIBSecurityService::Detach() {
  if (impl_->client) {
    impl_->Release();
  }
  impl_->attached_once = false;
}

void TVeskIBSecurityService::Run() {
  namespace fb = vesk::firebird;
  if (SecurityAction == TVeskIBSecurityAction::DisplayUsers) {
    DisplayUsers();
    return;
  }
  if (impl_->handle == 0) {
    if (!impl_->attached_once) {
      throw TVeskDriverError("O serviço de segurança não está conectado");
    }
    Attach();
  }
  std::string spb;
  switch (SecurityAction) {
    case TVeskIBSecurityAction::AddUser:
      spb += fb::kActionAddUser;
      break;
    case TVeskIBSecurityAction::DeleteUser:
      spb += fb::kActionDeleteUser;
      break;
    default:
      spb += fb::kActionModifyUser;
      break;
  }
  fb::AppendStartText(spb, fb::kSecUserName, UserName, "O nome de usuário");
  if (SecurityAction != TVeskIBSecurityAction::DeleteUser) {
    // Fields left empty are not sent: a modification keeps what the user had.
    const std::tuple<unsigned char, const std::string*, const char*> fields[] = {
        {fb::kSecPassword, &Password, "A senha"},
        {fb::kSecFirstName, &FirstName, "O primeiro nome"},
        {fb::kSecMiddleName, &MiddleName, "O nome do meio"},
        {fb::kSecLastName, &LastName, "O último nome"},
    };
    for (const auto& [tag, value, what] : fields) {
      if (!value->empty()) {
        fb::AppendStartText(spb, tag, *value, what);
      }
    }
  }
  if (spb.size() > 0xFFFF) {
    throw TVeskDriverError("Os dados do usuário passam de 65535 bytes");
  }
  fb::Status status;
  impl_->start(status.get(), &impl_->handle, nullptr, static_cast<uint16_t>(spb.size()),
               spb.data());
  impl_->Check(status.get());
  // The action's errors come with its output; it has ended when the output has.
  impl_->ReadOutput(fb::kInfoSvcLine);
}

std::vector<TVeskIBUserInfo> TVeskIBSecurityService::DisplayUsers() {
  namespace fb = vesk::firebird;
  if (impl_->handle == 0) {
    if (!impl_->attached_once) {
      throw TVeskDriverError("O serviço de segurança não está conectado");
    }
    Attach();
  }
  const char action = fb::kActionDisplayUser;
  fb::Status status;
  impl_->start(status.get(), &impl_->handle, nullptr, 1, &action);
  impl_->Check(status.get());
  try {
    return fb::ParseUsers(impl_->ReadOutput(fb::kInfoSvcGetUsers));
  } catch (...) {
    impl_->Release();
    throw;
  }
}
