// The include rules of the library's layers, and a check of a source tree against them. The
// layers and the interface headers through which a lower layer calls upward are listed in one
// file (include_graph.txt); tools, tests, benchmarks and fuzz targets are not checked and may
// include anything.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kestrun_test {

struct IncludeGraph {
  // Folder (relative to the source root, "/"-separated) to its rank: a higher rank is a higher layer.
  std::map<std::string, int> layers;
  // Interface header (relative path) to the rank of the lowest layer that may include it.
  std::map<std::string, int> interfaces;
};

// Reads the graph; a line it cannot read is an entry of `errors`.
IncludeGraph read_include_graph(const std::filesystem::path& file, std::vector<std::string>* errors);

// Every include in the layered folders of `root` that the graph forbids, as
// "<file>: includes <header> (<reason>)". A source file in a folder that is in no layer is reported
// too, so that a new folder is placed in the graph before it is used.
std::vector<std::string> include_violations(const std::filesystem::path& root, const IncludeGraph& graph);

}  // namespace kestrun_test
