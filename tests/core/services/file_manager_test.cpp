#include "core/services/file_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "core/foundation/posix_file_utility.h"
#include "support/temp_dir.h"

namespace libkestrun {
namespace {

namespace fs = std::filesystem;

std::set<std::string> tree(const std::string& root) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    names.insert(fs::relative(entry.path(), root).string());
  }
  return names;
}

class FileManagerTest : public ::testing::Test {
 protected:
  std::string data() const { return temp.file("caches/data"); }
  std::string resources() const { return temp.file("caches/resources"); }
  std::shared_ptr<FileManager> manager(std::shared_ptr<FileUtility> files = std::make_shared<FileUtility>()) {
    return std::make_shared<FileManager>(data(), resources(), std::move(files));
  }

  kestrun_test::TempDir temp;
};

TEST_F(FileManagerTest, InitializeMakesBothDirectoriesAndRemovesOnlyTopLevelImages) {
  auto files = manager();
  files->initialize();
  EXPECT_TRUE(fs::is_directory(data()));
  EXPECT_TRUE(fs::is_directory(resources()));

  fs::create_directories(data() + "/sub");
  fs::create_directories(data() + "/d.gif");
  for (const char* name : {"a.PNG", "b.jpeg", "t.txt", "sub/c.jpg", "d.gif/inner.txt", "jpeg"}) {
    std::ofstream(data() + "/" + name) << "x";
  }
  files->initialize();
  // An image name that is a directory is emptied, as the file utility removes directories.
  EXPECT_EQ(tree(data()), (std::set<std::string>{"t.txt", "sub", "sub/c.jpg", "d.gif", "jpeg"}));
  files->reinitialize();
  EXPECT_EQ(tree(data()), (std::set<std::string>{"t.txt", "sub", "sub/c.jpg", "d.gif", "jpeg"}));
}

TEST_F(FileManagerTest, TheHostsFileUtilityMakesTheDirectories) {
  manager(std::make_shared<posix::PosixFileUtility>())->initialize();
  EXPECT_TRUE(fs::exists(data() + "/CACHEDIR.TAG"));
  EXPECT_TRUE(fs::exists(resources() + "/CACHEDIR.TAG"));
}

TEST_F(FileManagerTest, TheInstallMarkerSurvivesARestart) {
  auto first = manager();
  first->initialize();
  EXPECT_FALSE(first->isAppInstalled());
  first->markAppInstalled();
  EXPECT_TRUE(first->isAppInstalled());
  EXPECT_TRUE(fs::is_directory(data() + "/AppHasBeenInstalledAndRunOnDevice"));

  auto restarted = manager();
  restarted->initialize();
  EXPECT_TRUE(restarted->isAppInstalled());
  fs::remove(data() + "/AppHasBeenInstalledAndRunOnDevice");
  EXPECT_FALSE(restarted->isAppInstalled());
}

TEST_F(FileManagerTest, ForwardersReachTheInstanceAndAnswerEmptyWithoutOne) {
  file_manager_set_instance(nullptr);
  EXPECT_EQ(file_manager_get_data_directory(), "");
  EXPECT_FALSE(file_manager_is_app_installed());
  file_manager_initialize();
  EXPECT_FALSE(fs::exists(data()));

  file_manager_set_instance(manager());
  EXPECT_EQ(file_manager_get_data_directory(), data());
  EXPECT_EQ(file_manager_get_resource_directory(), resources());
  file_manager_initialize();
  EXPECT_TRUE(fs::is_directory(resources()));
  std::ofstream(data() + "/old.png") << "x";
  file_manager_reinitialize();
  EXPECT_FALSE(fs::exists(data() + "/old.png"));
  file_manager_mark_app_installed();
  EXPECT_TRUE(file_manager_is_app_installed());
  file_manager_set_instance(nullptr);
}

}  // namespace
}  // namespace libkestrun
