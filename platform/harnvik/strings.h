// Small string helpers of the platform framework.
#pragma once

#include <string>
#include <string_view>

namespace harnvik::verdane {

namespace lang {
// printf-style formatting into a std::string.
std::string str_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
}  // namespace lang

// Lower-case hexadecimal text of the bytes.
std::string hex_encode(std::string_view bytes);

// True for ASCII letters and digits only.
bool ascii_alphanumeric(char c);

}  // namespace harnvik::verdane
