// The connection string the ODBC driver builds from a connection's parameters, and the encoding
// of the server version.
#include <gtest/gtest.h>

#include <string>

#include "vesk/VeskPack5.h"
#include "vesk/host/Odbc.h"

namespace {

using namespace vesk::odbc;

TEST(OdbcConnectionString, UserAndPasswordAreAddedOnlyWhenTheStringHasNone) {
  EXPECT_EQ(ConnectionStringFor(
                {"ConnectionString=Driver={X};Server=h", "USER_NAME=sa", "PASSWORD=p;w}d"}),
            "Driver={X};Server=h;UID=sa;PWD={p;w}}d}");
  EXPECT_EQ(ConnectionStringFor(
                {"ConnectionString=Driver={X};UID=a;pwd=b;", "USER_NAME=sa", "PASSWORD=p"}),
            "Driver={X};UID=a;pwd=b;");
  EXPECT_EQ(ConnectionStringFor({"ConnectionString=DSN=loja;", "USER_NAME="}), "DSN=loja;");
  EXPECT_THROW(ConnectionStringFor({"Database=x", "USER_NAME=sa"}), TVeskDriverError);
  EXPECT_THROW(ConnectionStringFor({"ConnectionString=  "}), TVeskDriverError);
}

TEST(OdbcConnectionString, AttributesReadBracesAndDoubledClosingBraces) {
  const std::string text = "Driver={PostgreSQL Unicode};PWD={a;b}}c};Database=loja;DBQ=/x.db";
  EXPECT_EQ(ConnectionStringAttribute(text, "driver"), "PostgreSQL Unicode");
  EXPECT_EQ(ConnectionStringAttribute(text, "PWD"), "a;b}c");
  EXPECT_EQ(ConnectionStringAttribute(text, "DATABASE"), "loja");
  EXPECT_EQ(ConnectionStringAttribute(text, "DBQ"), "/x.db");
  EXPECT_EQ(ConnectionStringAttribute(text, "UID"), "");
  EXPECT_EQ(BracedValue("plain"), "plain");
  EXPECT_EQ(BracedValue(" lead"), "{ lead}");
  EXPECT_EQ(ConnectionStringAttribute("PWD=" + BracedValue("x}=;{y"), "PWD"), "x}=;{y");
}

TEST(OdbcServerVersion, DigitsGroupAsTheSqlServerPluginPrintsThem) {
  EXPECT_EQ(EncodeServerVersion("15.00.4153"), 150000004153LL);
  EXPECT_EQ(EncodeServerVersion("15.0.20"), 150000000020LL);
  EXPECT_EQ(EncodeServerVersion("16.00.1000.6"), 160000001000LL) << "a fourth part is ignored";
  EXPECT_EQ(EncodeServerVersion("3.40.1"), 30040000001LL);
  EXPECT_EQ(EncodeServerVersion("12"), 120000000000LL);
  EXPECT_EQ(EncodeServerVersion("11.2.0 Production"), 110002000000LL);
  EXPECT_THROW(EncodeServerVersion(""), TVeskDriverError);
  EXPECT_THROW(EncodeServerVersion("PostgreSQL 15"), TVeskDriverError);
  EXPECT_THROW(EncodeServerVersion("15.10000.1"), TVeskDriverError);
  EXPECT_THROW(EncodeServerVersion("15.0.1000000"), TVeskDriverError);
}

}  // namespace
