// The core's file-system operations, replaceable by a platform subclass. Paths are UTF-8;
// the core passes absolute ones. Instances hold no state, so any thread may use one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace libkestrun {

class FileUtility {
 public:
  virtual ~FileUtility() = default;

  // Creates the directory and every missing parent, outermost first. True when this call created
  // the directory; false when something was already at the path or creation failed.
  virtual bool ensure_directory(const std::string& path);
  // The directory, "/", then the name; nothing else is added or removed.
  virtual std::string join(const std::string& directory, const std::string& name);

  // True for an existing file or directory (symbolic links followed).
  bool exists(const std::string& path);
  // The entry names as the system reads them, "." and ".." included; empty (never null) when the
  // directory cannot be opened.
  std::shared_ptr<std::vector<std::string>> list_directory(const std::string& path);
  // Deletes a regular file, or empties a directory (which itself stays). A symbolic link at the
  // path or inside the directory is never followed: a link is deleted itself, and nothing
  // outside the directory is touched. Missing paths, other kinds of file and failures are silent.
  void remove(const std::string& path);
  // The C library's rename: 0 on success, -1 on failure.
  int rename(const std::string& from, const std::string& to);
  // The size in bytes; 0 when the path does not exist or cannot be examined.
  uint64_t file_size(const std::string& path);
  // True when the path ends, in any letter case, with .jpeg, .jpg, .png, .tiff or .gif.
  bool is_image_file(const std::string& path);
};

}  // namespace libkestrun
