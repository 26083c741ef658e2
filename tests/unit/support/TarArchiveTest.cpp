#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "ci/TempDir.h"
#include "fake_tool/TarSample.h"
#include "tolvan/support/TarArchive.h"

namespace {

using tolvan::test::TempDir;

using namespace tolvan::testing;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary)
      << bytes;
}

std::vector<tolvan::support::TarMember> Walk(const std::string& bytes) {
  TempDir dir;
  const std::string path = dir.File("dump.tar");
  WriteFile(path, bytes);
  return tolvan::support::ReadTarArchive(path);
}

// The message of the refusal, or the empty text when the archive was read as whole.
std::string DamageOf(const std::string& bytes) {
  try {
    Walk(bytes);
  } catch (const tolvan::support::ETarArchiveDamaged& damage) {
    return damage.what();
  }
  return "";
}

TEST(TarArchive, GivesTheMembersInOrderWithTheirSizesAndWhereTheirDataBegin) {
  const std::string dump = SampleDump();
  const auto members = Walk(dump);
  ASSERT_EQ(members.size(), 4u);
  const char* names[] = {"toc.dat", "3348.dat", "3349.dat", "restore.sql"};
  const std::uint64_t sizes[] = {705, 1504, 4, 10};
  for (std::size_t i = 0; i < members.size(); ++i) {
    EXPECT_EQ(members[i].Name, names[i]);
    EXPECT_EQ(members[i].Size, sizes[i]);
    EXPECT_EQ(members[i].Type, '0');
  }
  EXPECT_EQ(dump.substr(members[0].DataOffset, 5), "PGDMP");
  EXPECT_EQ(members[1].DataOffset, 512u + 1024u + 512u);
  EXPECT_EQ(dump.substr(members[1].DataOffset + members[1].Size - 4, 4), "\\.\n\n");
  EXPECT_EQ(dump.substr(members[2].DataOffset, members[2].Size), "\\.\n\n");
}

TEST(TarArchive, ReadsTheFormsOtherWritersUse) {
  // A ustar prefix goes before the name; a size in base-256; a record padded with zero blocks
  // (GNU tar fills its 10 KiB records); an archive of no members.
  std::string big = TarHeader("grande.dat", 0);
  std::memset(big.data() + 124, 0, 12);
  big[124] = static_cast<char>(0x80);
  big[135] = 3;
  SealTarHeader(big);
  const std::string archive = TarHeader("toc.dat", 2, '0', "pasta/sub") + TarPadded("ab") + big +
                              TarPadded("xyz") + TarHeader("link", 999, '2') + kTarEnd +
                              std::string(10240 - 4 * 512 - 1024, '\0');
  const auto members = Walk(archive);
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].Name, "pasta/sub/toc.dat");
  EXPECT_EQ(members[1].Size, 3u);
  EXPECT_EQ(archive.substr(members[1].DataOffset, 3), "xyz");
  // A link's header stands alone, whatever its size field says.
  EXPECT_EQ(members[2].Type, '2');
  EXPECT_EQ(members[2].Size, 0u);

  EXPECT_TRUE(Walk(kTarEnd).empty());
}

TEST(TarArchive, EveryCutOfAWholeArchiveIsFound) {
  const std::string dump = SampleDump();
  for (std::size_t size = 0; size < dump.size(); size += (size % 512 == 0 ? 1 : 511)) {
    SCOPED_TRACE("cut at " + std::to_string(size));
    EXPECT_NE(DamageOf(dump.substr(0, size)), "");
  }
  // Cut where pg_dump's data member ends, and just before the last end block.
  EXPECT_NE(DamageOf(dump.substr(0, 3 * 512 + 1504)).find("3348.dat"), std::string::npos);
  EXPECT_NE(DamageOf(dump.substr(0, dump.size() - 512)).find("um só"), std::string::npos);
  EXPECT_NE(DamageOf("").find(": o arquivo está vazio."), std::string::npos);
}

TEST(TarArchive, DamagedHeadersAndStrayBytesAreFound) {
  const std::string dump = SampleDump();
  std::string flipped = dump;
  flipped[512 * 3 + 130] ^= 1;  // the size of 3348.dat
  EXPECT_NE(DamageOf(flipped).find("soma de verificação (byte 1536)"), std::string::npos);

  // A block of zeros where a header should be, then more members.
  std::string zeroed = dump;
  std::memset(zeroed.data() + 1536, 0, 512);
  EXPECT_NE(DamageOf(zeroed), "");

  EXPECT_NE(DamageOf(dump + "x").find("depois dos blocos vazios"), std::string::npos);
  EXPECT_NE(
      DamageOf(TarMemberOf("a", "1") + std::string(512, '\0') + TarMemberOf("b", "2") + kTarEnd)
          .find("isolado"),
      std::string::npos);

  std::string bad_size = TarHeader("toc.dat", 0);
  bad_size.replace(124, 3, "9x9");
  SealTarHeader(bad_size);
  EXPECT_NE(DamageOf(bad_size + kTarEnd).find("não é um número válido"), std::string::npos);
}

TEST(TarArchive, ReadsAFileByItsUtf8PathAndNamesItWhenDamaged) {
  TempDir dir;
  const std::string path = dir.File(
      "c\xC3\xB3pia de seguran\xC3\xA7"
      "a.dump");
  const std::string dump = SampleDump();
  WriteFile(path, dump);
  EXPECT_EQ(tolvan::support::ReadTarArchive(path).size(), 4u);

  WriteFile(path, dump.substr(0, dump.size() / 2));
  try {
    tolvan::support::ReadTarArchive(path);
    FAIL() << "a cut archive was read as whole";
  } catch (const tolvan::support::ETarArchiveDamaged& error) {
    EXPECT_EQ(std::string(error.what())
                  .rfind("O arquivo \"" + path + "\" está cortado ou danificado: ", 0),
              0u)
        << error.what();
  }

  EXPECT_THROW(tolvan::support::ReadTarArchive(dir.File("n\xC3\xA3o existe.dump")),
               std::system_error);
}

}  // namespace
