#include "core/foundation/file_utility.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <string>
#include <vector>

#include "core/foundation/date_utility.h"
#include "core/foundation/posix_file_utility.h"
#include "support/temp_dir.h"

namespace libkestrun {
namespace {

void write_file(const std::string& path, const std::string& content) { std::ofstream(path) << content; }

bool is_directory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the test body inside a directory, for relative paths, and goes back afterwards.
class InDirectory {
 public:
  explicit InDirectory(const std::string& path) {
    char buffer[PATH_MAX];
    previous_ = getcwd(buffer, sizeof buffer);
    EXPECT_EQ(chdir(path.c_str()), 0);
  }
  ~InDirectory() { EXPECT_EQ(chdir(previous_.c_str()), 0); }

 private:
  std::string previous_;
};

TEST(FileUtility, JoinAlwaysInsertsOneSeparator) {
  FileUtility files;
  EXPECT_EQ(files.join("a", "b"), "a/b");
  EXPECT_EQ(files.join("a/", "b"), "a//b");
  EXPECT_EQ(files.join("", "b"), "/b");
}

TEST(FileUtility, EnsureDirectoryCreatesMissingParents) {
  kestrun_test::TempDir dir;
  FileUtility files;
  EXPECT_FALSE(files.ensure_directory(dir.path()));
  EXPECT_TRUE(files.ensure_directory(dir.file("one/two")));
  EXPECT_TRUE(is_directory(dir.file("one/two")));
  EXPECT_FALSE(files.ensure_directory(dir.file("one/two")));

  write_file(dir.file("file"), "x");
  EXPECT_FALSE(files.ensure_directory(dir.file("file")));
  EXPECT_FALSE(files.ensure_directory(dir.file("file/child")));
  EXPECT_FALSE(files.ensure_directory(""));
}

TEST(FileUtility, EnsureDirectoryOfARelativePathEnds) {
  kestrun_test::TempDir dir;
  InDirectory inside(dir.path());
  FileUtility files;
  EXPECT_TRUE(files.ensure_directory("rel/a/b"));
  EXPECT_TRUE(is_directory(dir.file("rel/a/b")));
  EXPECT_TRUE(files.ensure_directory("./rel/c/"));
  EXPECT_TRUE(is_directory(dir.file("rel/c")));
}

TEST(FileUtility, ListDirectoryGivesEveryEntryOrNothing) {
  kestrun_test::TempDir dir;
  FileUtility files;
  auto missing = files.list_directory(dir.file("missing"));
  ASSERT_NE(missing, nullptr);
  EXPECT_TRUE(missing->empty());

  auto empty = files.list_directory(dir.path());
  std::sort(empty->begin(), empty->end());
  EXPECT_EQ(*empty, (std::vector<std::string>{".", ".."}));

  write_file(dir.file("f"), "x");
  files.ensure_directory(dir.file("d"));
  auto full = files.list_directory(dir.path());
  std::sort(full->begin(), full->end());
  EXPECT_EQ(*full, (std::vector<std::string>{".", "..", "d", "f"}));
}

TEST(FileUtility, SizeExistenceAndRename) {
  kestrun_test::TempDir dir;
  FileUtility files;
  EXPECT_EQ(files.file_size(dir.file("missing")), 0u);
  write_file(dir.file("empty"), "");
  EXPECT_EQ(files.file_size(dir.file("empty")), 0u);
  write_file(dir.file("five"), "12345");
  EXPECT_EQ(files.file_size(dir.file("five")), 5u);

  EXPECT_EQ(files.rename(dir.file("five"), dir.file("moved")), 0);
  EXPECT_FALSE(files.exists(dir.file("five")));
  EXPECT_TRUE(files.exists(dir.file("moved")));
  EXPECT_EQ(files.rename(dir.file("five"), dir.file("again")), -1);
}

TEST(FileUtility, IsImageFileByExtensionInAnyCase) {
  FileUtility files;
  struct Case {
    const char* path;
    bool image;
  } cases[] = {
      {"/p/a.PNG", true}, {"b.Jpeg", true},     {"c.jpg", true},   {"d.tiff", true}, {"e.gif", true},
      {"f.tif", false},   {"g.jpg.txt", false}, {"h.webp", false}, {"jpg", false},   {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(files.is_image_file(c.path), c.image) << c.path;
}

TEST(FileUtility, RemoveDeletesFilesAndEmptiesDirectories) {
  kestrun_test::TempDir dir;
  FileUtility files;
  files.remove(dir.file("missing"));

  write_file(dir.file("file"), "x");
  files.remove(dir.file("file"));
  EXPECT_FALSE(files.exists(dir.file("file")));

  files.ensure_directory(dir.file("d/sub"));
  write_file(dir.file("d/sub/f"), "x");
  files.remove(dir.file("d"));
  EXPECT_TRUE(is_directory(dir.file("d")));
  EXPECT_EQ(files.list_directory(dir.file("d"))->size(), 2u);
}

TEST(FileUtility, RemoveNeverFollowsSymbolicLinks) {
  kestrun_test::TempDir dir;
  FileUtility files;
  files.ensure_directory(dir.file("precious"));
  write_file(dir.file("precious/data"), "x");
  ASSERT_EQ(symlink(dir.file("precious").c_str(), dir.file("link").c_str()), 0);
  files.ensure_directory(dir.file("cache"));
  ASSERT_EQ(symlink(dir.file("precious").c_str(), dir.file("cache/link").c_str()), 0);

  files.remove(dir.file("link"));
  files.remove(dir.file("cache"));

  EXPECT_FALSE(files.exists(dir.file("link")));
  EXPECT_FALSE(files.exists(dir.file("cache/link")));
  EXPECT_TRUE(files.exists(dir.file("precious/data")));
}

TEST(PosixFileUtility, EnsureDirectoryMarksNewAndExistingDirectories) {
  kestrun_test::TempDir dir;
  posix::PosixFileUtility files;
  FileUtility& base = files;
  EXPECT_TRUE(base.ensure_directory(dir.file("new/cache")));
  EXPECT_TRUE(is_directory(dir.file("new/cache")));
  EXPECT_EQ(read_file(dir.file("new/cache/CACHEDIR.TAG")).substr(0, 43),
            "Signature: 8a477f597d28d172789f06886806bc55");

  EXPECT_TRUE(base.ensure_directory(dir.path()));
  EXPECT_TRUE(files.exists(dir.file("CACHEDIR.TAG")));

  // A damaged tag is written again; a sound one is left as it is.
  write_file(dir.file("CACHEDIR.TAG"), "Signature: wrong");
  EXPECT_TRUE(files.exclude_from_backup(dir.path()));
  EXPECT_EQ(read_file(dir.file("CACHEDIR.TAG")).substr(0, 43), "Signature: 8a477f597d28d172789f06886806bc55");
  write_file(dir.file("new/cache/CACHEDIR.TAG"), "Signature: 8a477f597d28d172789f06886806bc55 mine");
  EXPECT_TRUE(files.exclude_from_backup(dir.file("new/cache")));
  EXPECT_EQ(read_file(dir.file("new/cache/CACHEDIR.TAG")),
            "Signature: 8a477f597d28d172789f06886806bc55 mine");
}

TEST(PosixFileUtility, ExcludeFromBackupNeedsADirectory) {
  kestrun_test::TempDir dir;
  posix::PosixFileUtility files;
  write_file(dir.file("file"), "x");
  EXPECT_FALSE(files.exclude_from_backup(dir.file("file")));
  EXPECT_FALSE(files.exclude_from_backup(dir.file("missing")));
  EXPECT_FALSE(files.ensure_directory(dir.file("file/child")));
}

TEST(DateUtility, PlainClassPrefersTwelveHours) {
  DateUtility dates;
  EXPECT_FALSE(dates.user_prefers_24_hour_clock());
}

}  // namespace
}  // namespace libkestrun
