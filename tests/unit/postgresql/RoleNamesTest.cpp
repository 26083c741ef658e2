// Role names as the server takes them unquoted: letters of any alphabet, and a clear refusal,
// with nothing sent, for what would break the statements or be cut by the server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "Fixture.h"
#include "TolvanPostgreSQLUtil.h"
#include "ci/TestNames.h"

namespace tolvan::postgresql::test {
namespace {

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) {
    out += piece;
  }
  return out;
}

TEST(PostgresRoleNames, LettersOfAnyAlphabetAndOnlyWhatTheServerKeeps) {
  for (const std::string& good :
       {std::string("joão"), std::string("conceição"), std::string("Ávila"), std::string("_ação$1"),
        std::string("ñandú"), std::string("Ωmega"), std::string("дом"), std::string("名前"),
        Repeat("ã", 31) + "a"}) {
    EXPECT_TRUE(IsPlainIdentifier(good)) << good;
  }
  for (const std::string& bad :
       {std::string("1joão"), std::string("joão silva"), std::string("d'ávila"),
        std::string("jo\xE3o"),        // Latin-1, not UTF-8
        std::string("\xC3\xA3\xC3"),   // cut short
        std::string("a\xC0\xAF"),      // overlong "/"
        std::string("a\xED\xA0\x80"),  // surrogate
        std::string("a\tb"), std::string("a\xC2\x85"), std::string("a\x7F"), std::string("a\0b", 3),
        Repeat("ã", 32)}) {
    EXPECT_FALSE(IsPlainIdentifier(bad)) << bad;
  }
}

class RoleNamesTest : public PluginHost {
 protected:
  std::string Refusal(const std::string& name) {
    try {
      AddUser(&dm_, name, "pw", "", "", "");
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "(no exception)";
  }
};

TEST_F(RoleNamesTest, AnAccentedNameGoesIntoTheStatementsAsItIs) {
  AddUser(&dm_, "joão", "S3nh@'ção", "João", "da Conceição", "D'Ávila");
  EXPECT_THAT(driver_->Statements(),
              ElementsAre("CREATE ROLE joão WITH LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE INHERIT "
                          "NOREPLICATION CONNECTION LIMIT -1 PASSWORD 'S3nh@''ção' ",
                          "COMMENT ON ROLE joão IS 'João;da Conceição;D''Ávila' "));
}

TEST_F(RoleNamesTest, EachRefusalSaysWhatIsWrongAndSendsNothing) {
  EXPECT_EQ(Refusal("jo\xE3o"), "AddUser: AUserName não é um texto UTF-8 válido");
  EXPECT_EQ(Refusal("jo\não"), "AddUser: AUserName não pode conter caracteres de controle");
  EXPECT_EQ(Refusal(Repeat("ã", 32)),
            "AddUser: AUserName passa de 63 bytes (uma letra acentuada ocupa dois)");
  EXPECT_EQ(Refusal("joão silva"),
            "AddUser: AUserName \"joão silva\" não é um nome de usuário válido (uma letra ou _, "
            "seguida de letras, dígitos, _ ou $)");
  EXPECT_THAT(driver_->Events(), IsEmpty());
}

}  // namespace
}  // namespace tolvan::postgresql::test
