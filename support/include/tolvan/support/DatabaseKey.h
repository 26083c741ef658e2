// The database key: the text that names a database, as the host's connection gives it
// (GetDATABASENAME_KEY): a path, or server ":" path, where the server may carry "/" port. It is
// cut with the toolkit's token functions, as the operator's documents say.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvan::support {

// A key cut at its first ":" (PegarProximoToken).
struct DatabaseKey {
  // The text before the first ":" (a server, with "/" and a port when it has one, or a drive
  // letter); the whole key when it holds no ":".
  std::string server_part;
  // The text after the first ":"; empty when the key holds none.
  std::string path;
  bool has_colon = false;

  // The key holds ":" and the text before it has two characters or more: one character is a
  // drive letter, not a server.
  bool NamesServer() const { return has_colon && server_part.size() >= 2; }
  // The server the key names with its port, or the empty text: a local path or an alias.
  std::string Server() const { return NamesServer() ? server_part : std::string(); }
  // The path as the key's server sees it: the text after the server, or the whole key.
  std::string PathOnServer() const;
};

DatabaseKey SplitDatabaseKey(const std::string& key);

// The text and the server split off it, for a tool that reaches the server by a service of its
// own: a key without ":" stays whole; "srv:" gives "srv"; a server of two or more characters is
// taken off ("srv:/d/x.fdb" gives "/d/x.fdb" and "srv"); a drive letter stays ("C:\x").
struct ServerSplit {
  std::string text;
  std::string server;
};
ServerSplit SplitOffServer(const std::string& key);

// A server part cut into server and port text. At its last "/" (PegarAnteriorToken: the
// database key of the PostgreSQL runners) or at its first (PegarProximoToken: the PostgreSQL
// creation's database argument); the port text is empty when there is no "/".
struct ServerAndPort {
  std::string server;
  std::string port;
};
ServerAndPort SplitPortAtLastSlash(const std::string& server_part);
ServerAndPort SplitPortAtFirstSlash(const std::string& server_part);

// The port text as a number; fallback when it is not one whole valid 32-bit integer.
int32_t PortNumber(const std::string& text, int32_t fallback);

// True for a server of a key that is this machine: none, "localhost" or a loopback address, with
// or without "/" and a port.
bool IsThisMachine(std::string_view server);

// What a key without ":" says of its server, which the documents leave open for some readers.
enum class KeyWithoutColon {
  // The whole key is the server (an alias names its server's alias).
  NamesServer,
  // The whole key is the server unless it holds "/" or "\" (a path of this machine).
  NamesServerUnlessPath,
  // No server.
  NamesNoServer,
};

// A target database on the server of the connection's key: the target as it is when it names a
// server of its own (two or more characters before its first ":"), otherwise the key's server,
// ":" and the target (the target alone when the key names no server).
std::string OnServerOfKey(const std::string& target, const std::string& key,
                          KeyWithoutColon without_colon);

}  // namespace tolvan::support
