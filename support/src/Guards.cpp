#include "tolvan/support/Guards.h"

#include <exception>
#include <stdexcept>
#include <string>

namespace tolvan::support {
namespace {

std::string MessageOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "falha desconhecida";
  }
}

}  // namespace

void WithConnectionClosed(TVeskSQLConnection& connection, const std::function<void()>& body) {
  connection.Close();
  try {
    body();
  } catch (...) {
    const std::exception_ptr failure = std::current_exception();
    try {
      connection.Open();
    } catch (...) {
      std::string message = MessageOf(failure);
      if (!message.empty() && message.back() != '\n') {
        message += "\r\n";
      }
      throw std::runtime_error(message +
                               "Além disso, a conexão com o banco de dados não pôde ser aberta de "
                               "novo: " +
                               MessageOf(std::current_exception()) +
                               "\r\nConecte-se de novo antes de continuar.");
    }
    throw;
  }
  connection.Open();
}

TVeskSQLConnection& ConnectionOf(TVeskDMConexao* DM, const char* export_name) {
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    throw std::runtime_error(std::string(export_name) + ": DM não poder ser nil");
  }
  return *DM->SQLConnection;
}

}  // namespace tolvan::support
