#include "ExportTable.h"

#include <algorithm>
#include <cctype>

#include "tolvan/Exports.h"

namespace tolvan::cli {
namespace {

const std::vector<std::string> kConnectionOptions = {
    "--database", "--user", "--password",       "--client-library", "--expected-client-version",
    "--driver",   "--odbc", "--connect-timeout"};

// Taken by every export: they change how tolvan behaves, not what the export gets.
const std::vector<std::string> kEverywhere = {"--quiet", "--yes", "--quiet-result"};

const std::vector<std::string> kFrame = {"--no-frame", "--progress", "--circular"};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

void Drop(std::vector<std::string>& list, const std::string& option) {
  list.erase(std::remove(list.begin(), list.end(), option), list.end());
}

void Append(std::vector<std::string>& list, const std::vector<std::string>& more) {
  list.insert(list.end(), more.begin(), more.end());
}

}  // namespace

const std::vector<OptionHelp>& AllOptions() {
  static const std::vector<OptionHelp> options = {
      {"--database", "CHAVE",
       "banco de dados: caminho, servidor:caminho ou servidor/porta:caminho (Restore: o banco a "
       "criar)"},
      {"--user", "NOME", "usuário da conexão"},
      {"--password", "SENHA", "senha (melhor: TOLVAN_PASSWORD, ou a pergunta no terminal)"},
      {"--client-library", "ARQUIVO", "biblioteca cliente que a conexão carrega"},
      {"--expected-client-version", "VERSÃO", "versão da biblioteca cliente que o host espera"},
      {"--driver", "NOME", "driver da conexão (padrão: o do plug-in)"},
      {"--odbc", "TEXTO", "texto de conexão ODBC, \"Driver={...};Server=...;...\""},
      {"--connect-timeout", "SEGUNDOS",
       "quanto esperar por um servidor que não responde à conexão (padrão: 30)"},
      {"--sql", "SQL", "a consulta"},
      {"--user-name", "NOME", "o usuário a incluir, alterar ou excluir"},
      {"--user-password", "SENHA", "a senha desse usuário"},
      {"--group-name", "NOME", "grupo ou papel desse usuário"},
      {"--first-name", "NOME", "primeiro nome"},
      {"--middle-name", "NOME", "nome do meio"},
      {"--last-name", "NOME", "sobrenome"},
      {"--target", "BANCO", "o novo banco de dados"},
      {"--new-user", "NOME", "dono do novo banco"},
      {"--new-password", "SENHA", "senha do dono do novo banco"},
      {"--server", "SERVIDOR", "o servidor do novo banco"},
      {"--port", "PORTA", "a porta desse servidor"},
      {"--file", "ARQUIVO", "o arquivo de backup"},
      {"--service", nullptr, "pelo gerenciador de serviços do servidor"},
      {"--metadata-only", nullptr, "só a estrutura, sem os dados"},
      {"--inactive-indexes", nullptr, "restaura com os índices inativos"},
      {"--quiet", nullptr,
       "sem as linhas da ferramenta e as notas do log: elas só aparecem se a execução falhar"},
      {"--restore-password", "SENHA", "senha da restauração (padrão: a da conexão)"},
      {"--circular", nullptr, "progresso circular"},
      {"--no-frame", nullptr, "chama a exportação sem quadro de progresso"},
      {"--progress", nullptr, "uma linha de situação no terminal: quanto falta e o tempo"},
      {"--yes", nullptr, "mostra os diálogos e segue sem esperar"},
      {"--quiet-result", nullptr, "sem a linha de resultado no fim (para scripts)"},
      {"--verify", nullptr,
       "restaura o backup num banco de rascunho e confere objetos e linhas antes de confiar nele"},
      {"--keep", "N",
       "grava com data e hora no nome ({datado}) e, se der certo, remove os "
       "backups desse nome além dos N mais novos, nunca o último verificado"},
      {"--no-wait", nullptr,
       "se outra execução grava o mesmo arquivo, sai com 75 em vez de esperar por ela"},
  };
  return options;
}

const std::vector<std::string>& EverywhereOptions() {
  return kEverywhere;
}

void CheckListingOptions(const std::vector<std::string>& given) {
  if (std::find(given.begin(), given.end(), "--file") == given.end()) {
    throw UsageError(std::string(kListBackups) +
                     " precisa da opção --file: o nome dos backups, como foi dado a --keep");
  }
  for (const std::string& option : given) {
    if (option != "--file" &&
        std::find(kEverywhere.begin(), kEverywhere.end(), option) == kEverywhere.end()) {
      throw UsageError("a opção " + option + " não se aplica a " + kListBackups);
    }
  }
}

bool IsConnectionOption(const std::string& option) {
  return std::find(kConnectionOptions.begin(), kConnectionOptions.end(), option) !=
         kConnectionOptions.end();
}

bool ExportOptions::Takes(const std::string& option) const {
  if (connection && IsConnectionOption(option)) {
    return true;
  }
  for (const auto* list : {&required, &optional, &kEverywhere}) {
    if (std::find(list->begin(), list->end(), option) != list->end()) {
      return true;
    }
  }
  return false;
}

std::optional<ExportOptions> OptionsOf(PluginKind kind, const std::string& name) {
  const bool oracle = kind == PluginKind::Oracle;
  ExportOptions o;
  if (name == "Versao") {
    o.description = "a versão do servidor";
  } else if (name == "PegarUsuarios") {
    o.description = "as sessões ligadas ao banco de dados";
  } else if (name == "PegarUser") {
    o.description = "os usuários ou papéis do banco de dados";
  } else if (name == "AddUser" || name == "ModifyUser") {
    const bool add = name == "AddUser";
    o.description = add ? "inclui um usuário" : "altera um usuário";
    o.required = {"--user-name"};
    o.optional = {"--user-password", "--group-name", "--first-name", "--middle-name",
                  "--last-name"};
    if (oracle) {
      // The Oracle plug-in reads four arguments of AddUser and three of ModifyUser, and refuses
      // each of them empty.
      o.required = {"--user-name", "--user-password"};
      o.optional.clear();
      if (add) {
        o.required.push_back("--group-name");
      }
    } else if (add) {
      o.required.push_back("--user-password");
      Drop(o.optional, "--user-password");
    }
  } else if (name == "DeleteUser") {
    o.description = "exclui um usuário";
    o.required = {"--user-name"};
  } else if (name == "PegarDataBases") {
    o.description = "os bancos de dados e as conexões do servidor";
  } else if (name == "PegarPlan") {
    o.description = "o plano de uma consulta";
    o.required = {"--sql"};
  } else if (name == "CriarDataBase") {
    o.description = "cria um banco de dados vazio";
    o.required = {"--target"};
    o.optional = {"--new-user", "--new-password"};
  } else if (name == "CriarDataBaseVazia") {
    o.description = "cria um banco com a estrutura do banco da conexão, sem os dados";
    o.required = {"--target"};
    o.optional = {"--progress"};
    if (kind != PluginKind::PostgreSQL) {
      // The PostgreSQL plug-in accepts the owner and the flag and does not use them.
      Append(o.optional, {"--new-user", "--new-password", "--inactive-indexes"});
    }
  } else if (name == "CriarDataBaseFD") {
    o.description = "cria um banco de dados vazio em servidor, porta e caminho, sem conexão";
    o.connection = false;
    o.required = {"--server", "--port", "--target"};
    o.optional = {"--new-user", "--new-password"};
  } else if (name == "CriarBackup") {
    o.description = "backup do banco da conexão em temp/<banco>.dump, ao lado do programa";
    o.optional = {"--progress", "--verify", "--file", "--keep", "--no-wait"};
  } else if (name == "Backup" || name == "BackupConn") {
    const bool conn = name == "BackupConn";
    o.description =
        conn ? "backup do banco da conexão" : "backup de um banco (sem a conexão do host)";
    o.required = {"--file"};
    o.optional = {"--service"};
    Append(o.optional, kFrame);
    if (!oracle) {
      o.optional.insert(o.optional.end(), {"--metadata-only", "--verify"});
    }
    Append(o.optional, {"--keep", "--no-wait"});
  } else if (name == "Restore" || name == "RestoreConn") {
    const bool conn = name == "RestoreConn";
    o.description = conn ? "restaura um backup num novo banco, no servidor da conexão"
                         : "restaura um backup no banco de --database, que é criado";
    o.required = conn ? std::vector<std::string>{"--file", "--target"}
                      : std::vector<std::string>{"--file", "--database"};
    o.optional = {"--service"};
    Append(o.optional, kFrame);
    if (conn) {
      o.optional.push_back("--restore-password");
    }
    if (!oracle) {
      o.optional.push_back("--inactive-indexes");
    }
  } else {
    return std::nullopt;
  }
  // Work that writes a file from a database, fills one or changes its users must name the
  // database: a command line that lost --database would otherwise work on the embedded default
  // one and report success. The plug-ins whose connection may come through --odbc instead are
  // left to that check.
  const bool changes_or_copies = name == "AddUser" || name == "ModifyUser" ||
                                 name == "DeleteUser" || name == "CriarDataBaseVazia" ||
                                 name == "CriarBackup" || name == "Backup" ||
                                 name == "BackupConn" || name == "RestoreConn";
  if (changes_or_copies && (kind == PluginKind::Firebird || kind == PluginKind::PostgreSQL)) {
    o.required.push_back("--database");
  }
  return o;
}

std::optional<std::string> Nearest(const std::string& word,
                                   const std::vector<std::string>& candidates) {
  const std::string lowered = Lower(word);
  std::optional<std::string> best;
  std::size_t best_distance = 0;
  for (const std::string& candidate : candidates) {
    const std::size_t d = Distance(lowered, Lower(candidate));
    if (!best || d < best_distance) {
      best = candidate;
      best_distance = d;
    }
  }
  // Near enough to be a slip of the keyboard: two edits, or a third of a longer name.
  if (!best || best_distance > std::max<std::size_t>(2, word.size() / 3)) {
    return std::nullopt;
  }
  return best;
}

void CheckOptions(PluginKind kind, const std::string& export_name,
                  const std::vector<std::string>& given) {
  const auto options = OptionsOf(kind, export_name);
  if (!options) {
    return;
  }
  const auto has = [&given](const std::string& option) {
    return std::find(given.begin(), given.end(), option) != given.end();
  };
  for (const std::string& option : options->required) {
    if (!has(option)) {
      throw UsageError(export_name + " precisa da opção " + option +
                       (option == "--database" && kind == PluginKind::Firebird
                            ? ": o banco embutido padrão serve só ao tour e às consultas"
                            : ""));
    }
  }
  for (const std::string& option : given) {
    if (!options->Takes(option)) {
      throw UsageError("a opção " + option + " não se aplica a " + export_name);
    }
  }
  if (has("--no-frame")) {
    for (const char* option : {"--progress", "--circular"}) {
      if (has(option)) {
        throw UsageError(std::string("a opção ") + option +
                         " não se aplica com --no-frame (sem quadro não há progresso)");
      }
    }
  }
}

}  // namespace tolvan::cli
