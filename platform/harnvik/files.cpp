#include "harnvik/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace harnvik {

fatal_err::system::system(const std::string& operation, const std::string& path, int error)
    : std::runtime_error(operation + " " + path + ": " + std::strerror(error)), error_(error) {}

bool file_or_dir_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

void ensure_mkdir(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return;
  int error = errno;
  struct stat st;
  if (error == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  throw fatal_err::system("mkdir", path, error);
}

void ensure_unlink(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return;
  throw fatal_err::system("unlink", path, errno);
}

namespace {

// Works through descriptors relative to the directory being emptied, so that an entry swapped for
// a symbolic link between the look and the removal cannot redirect the removal elsewhere, and so
// that deep trees never build paths longer than the system accepts.
void clear_dir_at(int dir_fd, const std::string& shown_path) {
  DIR* dir = ::fdopendir(dir_fd);
  if (!dir) {
    int error = errno;
    ::close(dir_fd);
    throw fatal_err::system("opendir", shown_path, error);
  }
  struct DirCloser {
    DIR* dir;
    ~DirCloser() { ::closedir(dir); }
  } closer{dir};

  while (true) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (!entry) {
      if (errno != 0) throw fatal_err::system("readdir", shown_path, errno);
      return;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    std::string child_path = shown_path + "/" + name;

    struct stat st;
    if (::fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      throw fatal_err::system("stat", child_path, errno);
    }
    if (S_ISDIR(st.st_mode)) {
      int child_fd = ::openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child_fd < 0) throw fatal_err::system("open", child_path, errno);
      clear_dir_at(child_fd, child_path);
      if (::unlinkat(dir_fd, name, AT_REMOVEDIR) != 0 && errno != ENOENT) {
        throw fatal_err::system("rmdir", child_path, errno);
      }
    } else if (::unlinkat(dir_fd, name, 0) != 0 && errno != ENOENT) {
      throw fatal_err::system("unlink", child_path, errno);
    }
  }
}

}  // namespace

void clear_dir(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) throw fatal_err::system("open", path, errno);
  clear_dir_at(fd, path);
}

std::string remove_last_path_component(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? "" : "/";
  size_t slash = path.rfind('/', end);
  if (slash == std::string::npos) return "";
  size_t keep = path.find_last_not_of('/', slash);
  return keep == std::string::npos ? "/" : path.substr(0, keep + 1);
}

}  // namespace harnvik
