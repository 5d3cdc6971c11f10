#include "layering/include_layers.h"

#include <fstream>
#include <optional>
#include <regex>
#include <sstream>

namespace kestrun_test {

namespace fs = std::filesystem;

namespace {

// The folders whose files are checked; everything else may include anything.
const char* const kCheckedFolders[] = {"platform", "deps", "core"};

// The include directories of the build, after the including file's own folder.
const char* const kIncludeDirs[] = {"", "platform", "deps"};

bool is_source(const fs::path& path) {
  static const char* const extensions[] = {".h", ".hpp", ".c", ".cc", ".cpp", ".inc"};
  for (const char* extension : extensions) {
    if (path.extension() == extension) return true;
  }
  return false;
}

// The folder of the layer that holds `relative`, or empty.
std::optional<std::string> layer_of(const std::string& relative, const IncludeGraph& graph) {
  std::optional<std::string> best;
  for (const auto& [folder, rank] : graph.layers) {
    if (relative.compare(0, folder.size() + 1, folder + "/") == 0 &&
        (!best || folder.size() > best->size())) {
      best = folder;
    }
  }
  return best;
}

// The tree file that an include names, relative to the root; empty for a header from outside the
// tree (the C++ library, jansson, OpenSSL...).
std::optional<std::string> resolve(const fs::path& root, const fs::path& includer, const std::string& name,
                                   bool quoted) {
  if (quoted) {
    fs::path candidate = includer.parent_path() / name;
    if (fs::is_regular_file(candidate))
      return fs::relative(fs::weakly_canonical(candidate), root).generic_string();
  }
  for (const char* dir : kIncludeDirs) {
    fs::path candidate = root / dir / name;
    if (fs::is_regular_file(candidate))
      return fs::relative(fs::weakly_canonical(candidate), root).generic_string();
  }
  return std::nullopt;
}

}  // namespace

IncludeGraph read_include_graph(const fs::path& file, std::vector<std::string>* errors) {
  IncludeGraph graph;
  std::ifstream in(file);
  if (!in) {
    errors->push_back("cannot read " + file.string());
    return graph;
  }
  std::string line;
  int line_number = 0;
  while (std::getline(in, line)) {
    ++line_number;
    std::istringstream words(line);
    std::string kind, path, folder, extra;
    if (!(words >> kind) || kind[0] == '#') continue;
    if (kind == "layer" && words >> path && !(words >> extra)) {
      int rank = static_cast<int>(graph.layers.size());
      if (!graph.layers.emplace(path, rank).second) errors->push_back("layer listed twice: " + path);
      continue;
    }
    if (kind == "interface" && words >> path >> folder && !(words >> extra)) {
      auto layer = graph.layers.find(folder);
      if (layer == graph.layers.end()) {
        errors->push_back(file.filename().string() + ":" + std::to_string(line_number) + ": unknown layer " +
                          folder);
      } else {
        graph.interfaces[path] = layer->second;
      }
      continue;
    }
    errors->push_back(file.filename().string() + ":" + std::to_string(line_number) +
                      ": cannot read: " + line);
  }
  return graph;
}

std::vector<std::string> include_violations(const fs::path& given_root, const IncludeGraph& graph) {
  static const std::regex include_line(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  const fs::path root = fs::weakly_canonical(given_root);
  std::vector<std::string> violations;
  for (const char* checked : kCheckedFolders) {
    if (!fs::is_directory(root / checked)) continue;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root / checked)) {
      if (!entry.is_regular_file() || !is_source(entry.path())) continue;
      const std::string file = fs::relative(entry.path(), root).generic_string();
      std::optional<std::string> layer = layer_of(file, graph);
      if (!layer) {
        violations.push_back(file + ": in a folder of no layer");
        continue;
      }
      // An interface header answers to the layer that may include it, not to its own.
      auto interface = graph.interfaces.find(file);
      bool is_interface = interface != graph.interfaces.end();
      int rank = is_interface ? interface->second : graph.layers.at(*layer);

      std::ifstream in(entry.path());
      std::string line;
      std::smatch match;
      while (std::getline(in, line)) {
        if (!std::regex_search(line, match, include_line)) continue;
        std::optional<std::string> header = resolve(root, entry.path(), match[2], match[1] == "\"");
        if (!header || *header == file) continue;
        std::optional<std::string> header_layer = layer_of(*header, graph);
        if (!header_layer) {
          violations.push_back(file + ": includes " + *header + " (outside every layer)");
          continue;
        }
        if (*header_layer == *layer && !is_interface) continue;
        auto header_interface = graph.interfaces.find(*header);
        int lowest = header_interface != graph.interfaces.end() ? header_interface->second
                                                                : graph.layers.at(*header_layer);
        if (lowest > rank) {
          violations.push_back(file + ": includes " + *header + " (a higher layer: " + *header_layer + ")");
        }
      }
    }
  }
  return violations;
}

}  // namespace kestrun_test
