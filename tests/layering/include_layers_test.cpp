// The tree keeps to its layers, and the check finds the includes that break them.
#include "layering/include_layers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using kestrun_test::include_violations;
using kestrun_test::IncludeGraph;
using kestrun_test::read_include_graph;
namespace fs = std::filesystem;

IncludeGraph graph() {
  std::vector<std::string> errors;
  IncludeGraph graph = read_include_graph(KESTRUN_INCLUDE_GRAPH, &errors);
  EXPECT_EQ(errors, std::vector<std::string>{});
  return graph;
}

TEST(IncludeLayersTest, TheSourceTreeIncludesNoHigherLayer) {
  EXPECT_EQ(include_violations(KESTRUN_SOURCE_DIR, graph()), std::vector<std::string>{});
}

void write(const fs::path& root, const std::string& file, const std::string& text) {
  fs::create_directories((root / file).parent_path());
  std::ofstream(root / file) << text;
}

TEST(IncludeLayersTest, FindsEachKindOfForbiddenInclude) {
  kestrun_test::TempDir dir;
  fs::path root = dir.path();
  // Headers that exist, so that includes of them resolve.
  for (const char* header :
       {"platform/jsonette/json.h", "deps/brelt/uv_thread.h", "core/foundation/kv_store.h",
        "core/store/draft.h", "core/model/ks_item.h", "core/model/ks_email_account.h",
        "core/accounts/account_manager.h", "core/accounts/account_store.h", "core/api/managers.h",
        "core/sync/server_command.h", "core/services/undo_manager.h"}) {
    write(root, header, "#pragma once\n");
  }
  write(root, "core/foundation/prefs.h",
        "#include <jansson.h>\n"                          // outside the tree
        "#include \"jsonette/json.h\"\n"                  // lower layer, through an include directory
        "#include \"core/accounts/account_manager.h\"\n"  // interface open to the foundation
        "#include \"core/model/ks_item.h\"\n");           // higher layer
  write(root, "core/store/row.cpp",
        "#include \"core/api/managers.h\"\n"          // interface open from the data layer on only
        "#include \"../model/ks_email_account.h\"\n"  // a relative path: still an interface, open here
        "  #  include <core/model/ks_item.h>\n");     // higher layer, angle brackets and spacing
  write(root, "core/model/item.cpp",
        "#include \"core/sync/server_command.h\"\n"  // interfaces open to the model
        "#include \"core/services/undo_manager.h\"\n"
        "#include \"core/store/draft.h\"\n");
  // An interface header may include only what its lowest includer may.
  write(root, "core/accounts/account_manager.h",
        "#include \"core/model/ks_email_account.h\"\n"
        "#include \"core/accounts/account_store.h\"\n");
  write(root, "platform/harnvik/files.cpp", "#include \"brelt/uv_thread.h\"\n");
  write(root, "core/extras/thing.cpp", "\n");
  write(root, "deps/other/lib.c", "\n");
  write(root, "tools/server/main.cpp", "#include \"core/api/managers.h\"\n");  // tools may include anything

  std::vector<std::string> violations = include_violations(root, graph());
  std::sort(violations.begin(), violations.end());
  std::vector<std::string> expected = {
      "core/accounts/account_manager.h: includes core/accounts/account_store.h (a higher layer: "
      "core/accounts)",
      "core/extras/thing.cpp: in a folder of no layer",
      "core/foundation/prefs.h: includes core/model/ks_item.h (a higher layer: core/model)",
      "core/store/row.cpp: includes core/api/managers.h (a higher layer: core/api)",
      "core/store/row.cpp: includes core/model/ks_item.h (a higher layer: core/model)",
      "deps/other/lib.c: in a folder of no layer",
      "platform/harnvik/files.cpp: includes deps/brelt/uv_thread.h (a higher layer: deps/brelt)",
  };
  EXPECT_EQ(violations, expected);
}

TEST(IncludeLayersTest, AGraphLineItCannotReadIsAnError) {
  kestrun_test::TempDir dir;
  write(dir.path(), "graph.txt",
        "# comment\n\nlayer platform\nlayer platform\ninterface core/x.h core/nowhere\nlayers core\n");
  std::vector<std::string> errors;
  read_include_graph(fs::path(dir.path()) / "graph.txt", &errors);
  EXPECT_EQ(errors, (std::vector<std::string>{"layer listed twice: platform",
                                              "graph.txt:5: unknown layer core/nowhere",
                                              "graph.txt:6: cannot read: layers core"}));
}

}  // namespace
