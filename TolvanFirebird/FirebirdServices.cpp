// PegarDataBases: the databases in use on the server and their attachments, from the service
// manager through the client library's Services API.
#include <stdexcept>
#include <string>
#include <system_error>

#include "TolvanFirebirdUtil.h"
#include "platform/DynamicLibrary.h"
#include "platform/Interrupt.h"
#include "platform/Text.h"
#include "tolvan/support/DatabaseKey.h"

namespace tolvan::firebird {
namespace {

constexpr char kRequestSvrDbInfo = static_cast<char>(isc::kInfoSvrDbInfo);

int32_t Result(IscStatus status) {
  return static_cast<int32_t>(status);
}

// The library is the error text's for the length of the call, with its entry points looked up
// afresh in it.
class ErrorTextLibraryScope {
 public:
  explicit ErrorTextLibraryScope(const tolvan::platform::DynamicLibrary* library) {
    SetErrorTextLibrary(library);
    ForgetErrorTextEntryPoints();
  }
  ~ErrorTextLibraryScope() {
    SetErrorTextLibrary(nullptr);
    ForgetErrorTextEntryPoints();
  }
  ErrorTextLibraryScope(const ErrorTextLibraryScope&) = delete;
  ErrorTextLibraryScope& operator=(const ErrorTextLibraryScope&) = delete;
};

// Detaches on every way out; a refused detach is ignored and the handle cleared.
class ServiceAttachment {
 public:
  explicit ServiceAttachment(IscHandleFn detach) : detach_(detach) {}
  ~ServiceAttachment() {
    if (handle != 0) {
      CheckStatus(Result(detach_(StatusVector(), &handle)), false);
    }
    handle = 0;
  }
  ServiceAttachment(const ServiceAttachment&) = delete;
  ServiceAttachment& operator=(const ServiceAttachment&) = delete;

  IscHandle handle = 0;

 private:
  IscHandleFn detach_;
};

}  // namespace

void PegarDataBases(TVeskDMConexao* DM, std::vector<std::string>* _ADbs, int32_t& Attachments,
                    int32_t& Databases, const std::string& library_name) {
  if (_ADbs == nullptr) {
    throw std::runtime_error("PegarDataBases: _ADbs não poder ser nil");
  }
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    throw std::runtime_error("PegarDataBases: DM não poder ser nil");
  }
  Attachments = 0;

  // Loaded for this call as far as the error text goes; the library itself stays loaded.
  const tolvan::platform::DynamicLibrary* library = nullptr;
  try {
    library = &LoadClientLibrary(library_name);
  } catch (const std::system_error&) {
    throw std::runtime_error(std::string(kFbClientMissing));
  }
  const ErrorTextLibraryScope scope(library);

  const auto attach = library->Function<IscServiceAttachFn>("isc_service_attach");
  const auto query = library->Function<IscServiceQueryFn>("isc_service_query");
  const auto detach = library->Function<IscHandleFn>("isc_service_detach");
  const auto vax_integer = library->Function<IscVaxIntegerFn>("isc_vax_integer");
  if (attach == nullptr || query == nullptr || detach == nullptr || vax_integer == nullptr) {
    throw std::runtime_error(std::string(kFbClientMissing));
  }

  const std::string key = DM->SQLConnection->GetDATABASENAME_KEY();
  const std::string service = ServiceManagerName(key);
  const std::string spb = BuildServiceParameterBlock(DM->SQLConnection->Params);
  if (service.size() > UINT16_MAX) {
    throw std::runtime_error("PegarDataBases: nome do servidor longo demais");
  }

  // A refused attach raises its own error text: left to the query, it would only tell of an
  // invalid handle and hide the server's reason (wrong password, server down).
  // The client takes SIGINT and SIGTERM for itself on its first call: ours stay.
  const tolvan::platform::KeepInterruptHandlers keep_interrupts;
  ServiceAttachment attachment(detach);
  IscStatus attached = 0;
  AttachWithinLimit(support::SplitDatabaseKey(key).Server(), ConnectLimitOf(DM), [&] {
    attached = attach(StatusVector(), static_cast<uint16_t>(service.size()), service.c_str(),
                      &attachment.handle, static_cast<uint16_t>(spb.size()), spb.data());
  });
  CheckStatus(Result(attached), true);

  std::string reply(kServicesReplyLength, '\0');
  CheckStatus(Result(query(StatusVector(), &attachment.handle, nullptr, 0, nullptr, 1,
                           &kRequestSvrDbInfo, static_cast<uint16_t>(reply.size()), reply.data())),
              true);

  DatabasesReply parsed;
  auto deliver = [&] {
    if (parsed.attachments) {
      Attachments = *parsed.attachments;
    }
    if (parsed.databases) {
      Databases = *parsed.databases;
    }
    for (const std::string& name : parsed.names) {
      _ADbs->push_back(tolvan::platform::FromSystemCodePage(name));
    }
  };
  try {
    ParseDatabasesReply(reply, vax_integer, parsed);
  } catch (...) {
    deliver();
    throw;
  }
  deliver();
}

void PegarDataBases(TVeskDMConexao* DM, std::vector<std::string>* _ADbs, int32_t& Attachments,
                    int32_t& Databases) {
  PegarDataBases(DM, _ADbs, Attachments, Databases, TOLVAN_FIREBIRD_CLIENT_LIBRARY);
}

}  // namespace tolvan::firebird
