// The two directories in which the core keeps files, prepared at start-up, and the marker that
// records that the application has been installed and run on this device. All file-system work
// goes through the given FileUtility, so a host's utility also governs how directories are made.
//
// Threads: initialize runs on the thread that builds the core, before anything uses the
// directories; the getters copy immutable strings and may be called from any thread. Failures are
// silent (an unreadable directory lists as empty; isAppInstalled then reads false).
#pragma once

#include <memory>
#include <string>

#include "core/foundation/file_utility.h"

namespace libkestrun {

class FileManager {
 public:
  FileManager(std::string data_directory, std::string resource_directory,
              std::shared_ptr<FileUtility> file_utility);

  std::string getDataDirectory() const { return data_directory_; }
  std::string getResourceDirectory() const { return resource_directory_; }

  // Creates both directories when missing, then removes the image files lying directly in the
  // data directory (pictures of earlier versions; subdirectories are not looked into).
  void initialize();
  void reinitialize() { initialize(); }

  // The marker is a directory, "AppHasBeenInstalledAndRunOnDevice", in the data directory.
  void markAppInstalled();
  bool isAppInstalled();

 private:
  void _removeImageFiles();
  std::string marker_path() const;

  const std::string data_directory_;
  const std::string resource_directory_;
  const std::shared_ptr<FileUtility> file_utility_;
};

// The process-wide file manager and its forwarders; without an instance they do nothing and
// return empty values.
void file_manager_set_instance(std::shared_ptr<FileManager> manager);
std::string file_manager_get_data_directory();
std::string file_manager_get_resource_directory();
void file_manager_initialize();
void file_manager_reinitialize();
void file_manager_mark_app_installed();
bool file_manager_is_app_installed();

}  // namespace libkestrun
