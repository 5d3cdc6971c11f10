#include "core/foundation/posix_file_utility.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace libkestrun::posix {

namespace {

// The convention recognises a tag by these first 43 bytes; the rest is for people.
constexpr std::string_view kTagSignature = "Signature: 8a477f597d28d172789f06886806bc55";
constexpr std::string_view kTagText =
    "Signature: 8a477f597d28d172789f06886806bc55\n"
    "# This file is a cache directory tag created by Kestrun.\n"
    "# For information about cache directory tags, see https://bford.info/cachedir/\n";

bool has_valid_tag(const std::string& tag_path) {
  int fd = ::open(tag_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  char head[kTagSignature.size()];
  ssize_t got = ::read(fd, head, sizeof head);
  ::close(fd);
  return got == static_cast<ssize_t>(sizeof head) && std::string_view(head, sizeof head) == kTagSignature;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(wrote));
  }
  return true;
}

}  // namespace

bool PosixFileUtility::ensure_directory(const std::string& path) {
  if (!exists(path)) FileUtility::ensure_directory(path);
  return exclude_from_backup(path);
}

bool PosixFileUtility::exclude_from_backup(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  std::string tag_path = join(path, "CACHEDIR.TAG");
  if (has_valid_tag(tag_path)) return true;
  // Concurrent markers write the same bytes, so truncating in place is safe between them.
  int fd = ::open(tag_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = write_all(fd, kTagText);
  return ::close(fd) == 0 && written;
}

}  // namespace libkestrun::posix
