#include "device_identity.h"

#include <unistd.h>

#include <cctype>
#include <fstream>
#include <stdexcept>

#include "brelt/uuid.h"

namespace kestrun_run {

namespace {

// The first line of `path`, without surrounding blanks; empty when it cannot be read.
std::string first_line(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return "";
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!line.empty() && blank(line.back())) line.pop_back();
  size_t start = 0;
  while (start < line.size() && blank(line[start])) ++start;
  return line.substr(start);
}

}  // namespace

std::string vendor_id(const std::string& data_directory) {
  std::string id = first_line("/etc/machine-id");
  if (!id.empty()) return id;
  const std::string kept = data_directory + "/vendor-id";
  id = first_line(kept);
  if (!id.empty()) return id;
  id = brelt::generate_uuid_upper();
  std::ofstream out(kept, std::ios::trunc);
  out << id << '\n';
  if (!out.flush()) throw std::runtime_error("cannot write " + kept);
  return id;
}

std::string device_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace kestrun_run
