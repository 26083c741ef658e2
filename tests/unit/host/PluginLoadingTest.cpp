// The host's side of the boundary: the built plug-in loaded by file name, its exports looked up by
// name and called through the family's pointer types.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"

namespace {

std::unique_ptr<tolvan::platform::DynamicLibrary> LoadFirebird() {
  return tolvan::platform::DynamicLibrary::Load(tolvan::platform::ExecutableDirectory() +
                                                "TolvanFirebird" TOLVAN_PLUGIN_SUFFIX);
}

TEST(PluginLoadingTest, ExceptionFromInsideThePluginArrivesWithItsMessage) {
  auto plugin = LoadFirebird();
  auto pegar_usuarios = plugin->Function<tolvan::PegarUsuariosFn>("PegarUsuarios");
  ASSERT_NE(pegar_usuarios, nullptr);

  TVeskDMConexao dm;
  try {
    pegar_usuarios(&dm, nullptr);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "PegarUsuarios: _AUser não poder ser nil");
  }
}

TEST(PluginLoadingTest, LooksExportsUpByName) {
  auto plugin = LoadFirebird();
  for (const char* name : {"Versao", "PegarUsuarios", "PegarPlan"}) {
    EXPECT_NE(plugin->Symbol(name), nullptr) << name;
  }
  EXPECT_EQ(plugin->Symbol("NoSuchExport"), nullptr);

  auto pegar_plan = plugin->Function<tolvan::PegarPlanFn>("PegarPlan");
  ASSERT_NE(pegar_plan, nullptr);
  EXPECT_EQ(pegar_plan(nullptr, "select 1 from rdb$database"), "não suportado");
}

}  // namespace
