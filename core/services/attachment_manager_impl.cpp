#include "core/services/attachment_manager_impl.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace libkestrun {

namespace {
const char kAttachmentsFolder[] = "Attachments";
const char kIconsFolder[] = "Icons";
}  // namespace

AttachmentManagerImpl::AttachmentManagerImpl(std::shared_ptr<FileUtility> fileUtility,
                                             AccountManager* accounts, FileManager* files)
    : fileUtility_(std::move(fileUtility)), accounts_(accounts), files_(files) {
  index_.max_load_factor(1.0);
}

bool AttachmentManagerImpl::isSafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::string AttachmentManagerImpl::attachmentsDirectoryLocked() const {
  return files_->getDataDirectory() + "/" + kAttachmentsFolder;
}

std::string AttachmentManagerImpl::attachmentsDirectory() {
  std::lock_guard<std::mutex> lock(mutex_);
  return attachmentsDirectoryLocked();
}

std::string AttachmentManagerImpl::iconsDirectory() {
  std::lock_guard<std::mutex> lock(mutex_);
  return attachmentsDirectoryLocked() + "/" + kIconsFolder;
}

std::vector<std::string> AttachmentManagerImpl::entries(const std::string& path) {
  std::vector<std::string> names;
  const std::shared_ptr<std::vector<std::string>> listing = fileUtility_->list_directory(path);
  for (const std::string& name : *listing) {
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

void AttachmentManagerImpl::rebuildIndex() {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string root = attachmentsDirectoryLocked();
  fileUtility_->ensure_directory(root);
  index_.clear();
  std::shared_ptr<std::vector<std::string>> primaries = accounts_->allPrimaryAccountIDs();
  for (const std::string& account : entries(root)) {
    if (!primaries || std::find(primaries->begin(), primaries->end(), account) == primaries->end()) continue;
    AccountMap accountMap;
    for (const std::string& email : entries(root + "/" + account)) {
      EmailMap emailMap;
      for (const std::string& attachment : entries(root + "/" + account + "/" + email)) {
        std::vector<std::string> files = entries(root + "/" + account + "/" + email + "/" + attachment);
        if (!files.empty()) emailMap[attachment] = files.front();
      }
      if (!emailMap.empty()) accountMap[email] = std::move(emailMap);
    }
    if (!accountMap.empty()) index_[account] = std::move(accountMap);
  }
}

void AttachmentManagerImpl::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  fileUtility_->remove(attachmentsDirectoryLocked());
  index_.clear();
}

void AttachmentManagerImpl::resetDirectory() {
  std::lock_guard<std::mutex> lock(mutex_);
  fileUtility_->remove(attachmentsDirectoryLocked());
  index_.clear();
  fileUtility_->ensure_directory(attachmentsDirectoryLocked());
}

void AttachmentManagerImpl::removeAttachmentsForEmail(const std::string& emailID,
                                                      const std::string& accountID) {
  if (!isSafeName(emailID) || !isSafeName(accountID)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  fileUtility_->remove(attachmentsDirectoryLocked() + "/" + accountID + "/" + emailID);
  auto account = index_.find(accountID);
  if (account != index_.end()) account->second.erase(emailID);
}

void AttachmentManagerImpl::removeAttachmentsForAccount(const std::string& accountID) {
  if (!isSafeName(accountID)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  fileUtility_->remove(attachmentsDirectoryLocked() + "/" + accountID);
  index_.erase(accountID);
}

bool AttachmentManagerImpl::moveFile(const std::string& from, const std::string& to) {
  if (fileUtility_->rename(from, to) == 0) return true;
  if (errno != EXDEV) return false;
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  if (error) {
    std::filesystem::remove(to, error);
    return false;
  }
  std::filesystem::remove(from, error);
  return true;
}

bool AttachmentManagerImpl::addAttachment(const std::string& sourcePath, const std::string& accountID,
                                          const std::string& emailID, const std::string& attachmentID,
                                          const std::string& fileName) {
  if (!isSafeName(accountID) || !isSafeName(emailID) || !isSafeName(attachmentID) || !isSafeName(fileName))
    return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string dir = attachmentsDirectoryLocked() + "/" + accountID + "/" + emailID + "/" + attachmentID;
  fileUtility_->ensure_directory(dir);
  if (!moveFile(sourcePath, dir + "/" + fileName)) return false;
  index_[accountID][emailID][attachmentID] = fileName;
  return true;
}

const AttachmentManagerImpl::EmailMap* AttachmentManagerImpl::emailEntry(const std::string& accountID,
                                                                         const std::string& emailID) const {
  auto account = index_.find(accountID);
  if (account == index_.end()) return nullptr;
  auto email = account->second.find(emailID);
  return email == account->second.end() ? nullptr : &email->second;
}

bool AttachmentManagerImpl::attachmentExists(const std::string& accountID, const std::string& emailID,
                                             const std::string& attachmentID, const std::string& fileName,
                                             bool migrate) {
  std::lock_guard<std::mutex> lock(mutex_);
  const EmailMap* known = emailEntry(accountID, emailID);
  if (!known) return false;
  if (known->count(attachmentID) != 0) return true;
  if (!migrate || !isSafeName(attachmentID) || !isSafeName(fileName)) return false;
  // The older layout named the attachment's folder after the file's base name.
  const std::string base = fileName.substr(0, fileName.find('.'));
  if (!isSafeName(base) || known->count(base) == 0) return false;
  const std::string emailDir = attachmentsDirectoryLocked() + "/" + accountID + "/" + emailID;
  const std::string old = emailDir + "/" + base + "/" + fileName;
  if (!fileUtility_->exists(old)) return false;
  fileUtility_->ensure_directory(emailDir + "/" + attachmentID);
  if (!moveFile(old, emailDir + "/" + attachmentID + "/" + fileName)) return false;
  EmailMap& entry = index_[accountID][emailID];
  entry[attachmentID] = fileName;
  entry.erase(base);
  return true;
}

bool AttachmentManagerImpl::emailHasAttachments(const std::string& accountID, const std::string& emailID) {
  std::lock_guard<std::mutex> lock(mutex_);
  return emailEntry(accountID, emailID) != nullptr;
}

std::string AttachmentManagerImpl::pathForAttachment(const std::string& accountID, const std::string& emailID,
                                                     const std::string& attachmentID) {
  std::lock_guard<std::mutex> lock(mutex_);
  const EmailMap* known = emailEntry(accountID, emailID);
  if (!known) return "";
  auto attachment = known->find(attachmentID);
  if (attachment == known->end()) return "";
  return attachmentsDirectoryLocked() + "/" + accountID + "/" + emailID + "/" + attachmentID + "/" +
         attachment->second;
}

std::shared_ptr<std::vector<std::string>> AttachmentManagerImpl::listAttachments(const std::string& accountID,
                                                                                 const std::string& emailID,
                                                                                 bool imagesOnly) {
  auto list = std::make_shared<std::vector<std::string>>();
  std::lock_guard<std::mutex> lock(mutex_);
  const EmailMap* known = emailEntry(accountID, emailID);
  if (!known) return list;
  for (const auto& [attachment, file] : *known) {
    if (!imagesOnly || fileUtility_->is_image_file(file)) list->push_back(attachment + "/" + file);
  }
  return list;
}

std::shared_ptr<std::vector<std::string>> AttachmentManagerImpl::attachmentsForEmail(
    const std::string& accountID, const std::string& emailID) {
  return listAttachments(accountID, emailID, false);
}

std::shared_ptr<std::vector<std::string>> AttachmentManagerImpl::imageAttachmentsForEmail(
    const std::string& accountID, const std::string& emailID) {
  return listAttachments(accountID, emailID, true);
}

}  // namespace libkestrun
