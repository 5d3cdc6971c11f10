#include "core/services/file_manager.h"

#include <utility>
#include <vector>

#include "core/foundation/process_instance.h"

namespace libkestrun {
namespace {

const char kInstallMarker[] = "AppHasBeenInstalledAndRunOnDevice";

ProcessInstance<FileManager> instance;

}  // namespace

FileManager::FileManager(std::string data_directory, std::string resource_directory,
                         std::shared_ptr<FileUtility> file_utility)
    : data_directory_(std::move(data_directory)),
      resource_directory_(std::move(resource_directory)),
      file_utility_(std::move(file_utility)) {}

void FileManager::initialize() {
  file_utility_->ensure_directory(data_directory_);
  file_utility_->ensure_directory(resource_directory_);
  _removeImageFiles();
}

void FileManager::_removeImageFiles() {
  std::shared_ptr<std::vector<std::string>> names = file_utility_->list_directory(data_directory_);
  for (const std::string& name : *names) {
    if (file_utility_->is_image_file(name)) file_utility_->remove(file_utility_->join(data_directory_, name));
  }
}

std::string FileManager::marker_path() const { return file_utility_->join(data_directory_, kInstallMarker); }

void FileManager::markAppInstalled() { file_utility_->ensure_directory(marker_path()); }

bool FileManager::isAppInstalled() { return file_utility_->exists(marker_path()); }

void file_manager_set_instance(std::shared_ptr<FileManager> manager) { instance.set(std::move(manager)); }
std::string file_manager_get_data_directory() { return instance.call(&FileManager::getDataDirectory); }
std::string file_manager_get_resource_directory() {
  return instance.call(&FileManager::getResourceDirectory);
}
void file_manager_initialize() { instance.call(&FileManager::initialize); }
void file_manager_reinitialize() { instance.call(&FileManager::reinitialize); }
void file_manager_mark_app_installed() { instance.call(&FileManager::markAppInstalled); }
bool file_manager_is_app_installed() { return instance.call(&FileManager::isAppInstalled); }

}  // namespace libkestrun
