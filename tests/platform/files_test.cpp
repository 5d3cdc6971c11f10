#include "harnvik/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace harnvik {
namespace {

void write_file(const std::string& path, const std::string& content = "x") { std::ofstream(path) << content; }

int error_of(auto&& operation) {
  try {
    operation();
  } catch (const fatal_err::system& e) {
    return e.error();
  }
  return 0;
}

TEST(Files, RemoveLastPathComponent) {
  struct Case {
    std::string path, parent;
  } cases[] = {
      {"/a/b/c", "/a/b"}, {"/a/b/", "/a"}, {"/a//b", "/a"}, {"/a", "/"}, {"/", "/"},
      {"//", "/"},        {"a/b", "a"},    {"a", ""},       {"a/", ""},  {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(remove_last_path_component(c.path), c.parent) << c.path;
}

TEST(Files, ExistenceAndSingleDirectoryCreation) {
  kestrun_test::TempDir dir;
  std::string sub = dir.file("sub");
  EXPECT_FALSE(file_or_dir_exists(sub));
  ensure_mkdir(sub);
  EXPECT_TRUE(file_or_dir_exists(sub));
  ensure_mkdir(sub);  // already a directory: fine

  write_file(dir.file("file"));
  EXPECT_TRUE(file_or_dir_exists(dir.file("file")));
  EXPECT_EQ(error_of([&] { ensure_mkdir(dir.file("file")); }), EEXIST);
  EXPECT_EQ(error_of([&] { ensure_mkdir(dir.file("missing/child")); }), ENOENT);

  ASSERT_EQ(symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);
  EXPECT_FALSE(file_or_dir_exists(dir.file("dangling")));
}

TEST(Files, EnsureUnlinkDeletesLinksNotTargets) {
  kestrun_test::TempDir dir;
  write_file(dir.file("target"));
  ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
  ensure_unlink(dir.file("link"));
  EXPECT_TRUE(file_or_dir_exists(dir.file("target")));
  ensure_unlink(dir.file("target"));
  EXPECT_FALSE(file_or_dir_exists(dir.file("target")));
  ensure_unlink(dir.file("target"));  // already gone: fine
  ensure_mkdir(dir.file("sub"));
  EXPECT_NE(error_of([&] { ensure_unlink(dir.file("sub")); }), 0);
}

TEST(Files, ClearDirEmptiesTheTreeWithoutLeavingIt) {
  kestrun_test::TempDir dir;
  std::string outside = dir.file("outside");
  ensure_mkdir(outside);
  write_file(outside + "/keep");
  std::string tree = dir.file("tree");
  ensure_mkdir(tree);
  ensure_mkdir(tree + "/a");
  ensure_mkdir(tree + "/a/b");
  write_file(tree + "/top");
  write_file(tree + "/a/b/deep");
  ASSERT_EQ(symlink(outside.c_str(), (tree + "/a/to_dir").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/keep").c_str(), (tree + "/to_file").c_str()), 0);
  ASSERT_EQ(mkfifo((tree + "/fifo").c_str(), 0600), 0);

  clear_dir(tree);

  EXPECT_TRUE(file_or_dir_exists(tree));
  EXPECT_EQ(rmdir(tree.c_str()), 0) << "left entries behind";
  EXPECT_TRUE(file_or_dir_exists(outside + "/keep"));
}

TEST(Files, ClearDirRefusesALinkAndAMissingPath) {
  kestrun_test::TempDir dir;
  ensure_mkdir(dir.file("real"));
  write_file(dir.file("real/keep"));
  ASSERT_EQ(symlink(dir.file("real").c_str(), dir.file("link").c_str()), 0);
  EXPECT_NE(error_of([&] { clear_dir(dir.file("link")); }), 0);
  EXPECT_TRUE(file_or_dir_exists(dir.file("real/keep")));
  EXPECT_EQ(error_of([&] { clear_dir(dir.file("missing")); }), ENOENT);
}

}  // namespace
}  // namespace harnvik
