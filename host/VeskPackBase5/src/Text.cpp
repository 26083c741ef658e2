#include <string>
#include <string_view>

#include "vesk/VeskPackBase5.h"

std::string PegarProximoToken(std::string& S, const std::string& Sep) {
  const auto at = Sep.empty() ? std::string::npos : S.find(Sep);
  if (at == std::string::npos) {
    std::string all;
    all.swap(S);
    return all;
  }
  std::string token = S.substr(0, at);
  S.erase(0, at + Sep.size());
  return token;
}

std::string PegarProximoTokenSomente(const std::string& S, const std::string& Sep) {
  const auto at = Sep.empty() ? std::string::npos : S.find(Sep);
  return at == std::string::npos ? S : S.substr(0, at);
}

std::string PegarAnteriorToken(std::string& S, const std::string& Sep) {
  const auto at = Sep.empty() ? std::string::npos : S.rfind(Sep);
  if (at == std::string::npos) {
    return {};
  }
  std::string token = S.substr(at + Sep.size());
  S.erase(at);
  return token;
}

std::string TemDados(const std::string& Prefix, const std::string& Text,
                     const std::string& Suffix) {
  return Text.empty() ? std::string() : Prefix + Text + Suffix;
}

std::string ValorParaSQL(const std::string& Value) {
  std::string quoted;
  quoted.reserve(Value.size() + 2);
  quoted += '\'';
  for (const char c : Value) {
    if (c == '\'') {
      quoted += '\'';
    }
    quoted += c;
  }
  quoted += '\'';
  return quoted;
}
