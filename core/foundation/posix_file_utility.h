// The file utility of POSIX desktops: directories it makes are marked as caches, which backup
// tools that honour the Cache Directory Tagging convention (tar --exclude-caches, borg, restic)
// leave out.
#pragma once

#include <string>

#include "core/foundation/file_utility.h"

namespace libkestrun::posix {

class PosixFileUtility : public FileUtility {
 public:
  // Creates the directory with its missing parents when needed, then marks it excluded from
  // backup, also when it already existed; the result is that of the marking.
  bool ensure_directory(const std::string& path) override;

  // Writes a CACHEDIR.TAG file into the directory unless a valid one is there. True when the
  // directory holds a valid tag afterwards; false when the path is not a directory or the tag
  // cannot be written.
  bool exclude_from_backup(const std::string& path);
};

}  // namespace libkestrun::posix
