#include "core/foundation/file_utility.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>

#include "core/foundation/ks_string.h"
#include "harnvik/files.h"

namespace libkestrun {

bool FileUtility::ensure_directory(const std::string& path) {
  if (exists(path)) return false;
  // A relative path runs out of components at "", which can never exist; stop there.
  std::string parent = harnvik::remove_last_path_component(path);
  if (!parent.empty() && parent != path) FileUtility::ensure_directory(parent);
  try {
    harnvik::ensure_mkdir(path);
    return true;
  } catch (const harnvik::fatal_err::system&) {
    return false;
  }
}

std::string FileUtility::join(const std::string& directory, const std::string& name) {
  return directory + "/" + name;
}

bool FileUtility::exists(const std::string& path) { return harnvik::file_or_dir_exists(path); }

std::shared_ptr<std::vector<std::string>> FileUtility::list_directory(const std::string& path) {
  auto names = std::make_shared<std::vector<std::string>>();
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return names;
  while (struct dirent* entry = ::readdir(dir)) names->emplace_back(entry->d_name);
  ::closedir(dir);
  return names;
}

void FileUtility::remove(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  try {
    if (S_ISDIR(st.st_mode)) {
      harnvik::clear_dir(path);
    } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
      harnvik::ensure_unlink(path);
    }
  } catch (const harnvik::fatal_err::system&) {
  }
}

int FileUtility::rename(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : -1;
}

uint64_t FileUtility::file_size(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

bool FileUtility::is_image_file(const std::string& path) {
  for (const char* extension : {".jpeg", ".jpg", ".png", ".tiff", ".gif"}) {
    if (KSString::ends_with_ignore_case(path, extension)) return true;
  }
  return false;
}

}  // namespace libkestrun
