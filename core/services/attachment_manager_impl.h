// The attachment files and their index. Layout under the data directory D:
//
//   D/Attachments/Icons                                  icons (never indexed)
//   D/Attachments/<account>/<e-mail>/<attachment>/<file name>
//
// The index (account -> e-mail -> attachment -> file name) is kept in memory only: the disk is
// the record, read again by rebuildIndex at start-up, which takes only the folders of primary
// accounts. An entry is made only once its file is in place.
//
// Threads: the facade's thread, the core thread and download completions on worker threads all
// call in; mutex_ is held for the whole of every operation and guards index_.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/accounts/account_manager.h"
#include "core/foundation/file_utility.h"
#include "core/services/attachment_manager.h"
#include "core/services/file_manager.h"

namespace libkestrun {

class AttachmentManagerImpl : public AttachmentManager {
 public:
  // `accounts` and `files` are not owned and must outlive the manager. The index starts empty.
  AttachmentManagerImpl(std::shared_ptr<FileUtility> fileUtility, AccountManager* accounts,
                        FileManager* files);
  AttachmentManagerImpl(const AttachmentManagerImpl&) = delete;
  AttachmentManagerImpl& operator=(const AttachmentManagerImpl&) = delete;

  // True for a name that stays one path component: not empty, not "." or "..", no "/" nor NUL.
  static bool isSafeName(const std::string& name);

  std::string attachmentsDirectory() override;
  std::string iconsDirectory() override;
  void rebuildIndex() override;
  void clear() override;
  void resetDirectory() override;
  void removeAttachmentsForEmail(const std::string& emailID, const std::string& accountID) override;
  void removeAttachmentsForAccount(const std::string& accountID) override;
  bool addAttachment(const std::string& sourcePath, const std::string& accountID, const std::string& emailID,
                     const std::string& attachmentID, const std::string& fileName) override;
  bool attachmentExists(const std::string& accountID, const std::string& emailID,
                        const std::string& attachmentID, const std::string& fileName, bool migrate) override;
  bool emailHasAttachments(const std::string& accountID, const std::string& emailID) override;
  std::string pathForAttachment(const std::string& accountID, const std::string& emailID,
                                const std::string& attachmentID) override;
  std::shared_ptr<std::vector<std::string>> attachmentsForEmail(const std::string& accountID,
                                                                const std::string& emailID) override;
  std::shared_ptr<std::vector<std::string>> imageAttachmentsForEmail(const std::string& accountID,
                                                                     const std::string& emailID) override;

 private:
  using EmailMap = std::unordered_map<std::string, std::string>;  // attachment id -> file name
  using AccountMap = std::unordered_map<std::string, EmailMap>;   // e-mail id -> attachments
  using Index = std::unordered_map<std::string, AccountMap>;      // account id -> e-mails

  std::string attachmentsDirectoryLocked() const;
  // Moves the file, falling back to copy and remove when the two paths are on different file
  // systems. True when the file is at `to`.
  bool moveFile(const std::string& from, const std::string& to);
  // The entries of a folder without "." and "..".
  std::vector<std::string> entries(const std::string& path);
  const EmailMap* emailEntry(const std::string& accountID, const std::string& emailID) const;
  std::shared_ptr<std::vector<std::string>> listAttachments(const std::string& accountID,
                                                            const std::string& emailID, bool imagesOnly);

  const std::shared_ptr<FileUtility> fileUtility_;
  AccountManager* const accounts_;
  FileManager* const files_;
  std::mutex mutex_;
  Index index_;  // guarded by mutex_
};

}  // namespace libkestrun
