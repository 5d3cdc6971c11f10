#include "core/store/sql_text.h"

#include <stdexcept>

namespace libkestrun::internal {

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
  if (parts.empty()) throw std::out_of_range("join of no parts");
  std::string text = parts.front();
  for (size_t i = 1; i < parts.size(); ++i) {
    text += separator;
    text += parts[i];
  }
  return text;
}

}  // namespace libkestrun::internal
