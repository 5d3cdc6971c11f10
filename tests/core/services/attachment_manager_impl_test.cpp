// The attachment files under a real data directory, with a real account manager deciding which
// folders are primary accounts.
#include "core/services/attachment_manager_impl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/accounts/account_manager_impl.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/posix_file_utility.h"
#include "support/scratch_mount.h"
#include "support/temp_dir.h"

namespace libkestrun {
namespace {

namespace fs = std::filesystem;
using jsonette::Json;

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// Every regular file under `root` with its content, paths relative to `root`.
std::vector<std::string> tree(const std::string& root) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file())
      files.push_back(fs::relative(entry.path(), root).string() + "=" + read(entry.path()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

class AttachmentManagerTest : public ::testing::Test {
 protected:
  AttachmentManagerTest() {
    // Primary accounts A and B; C is an alias of A.
    JsonKvStore(store).set_json(AccountManagerImpl::kAccountsKey,
                                Json::array{Json::object{{"accountID", "A"}, {"emailAddress", "a@x"}},
                                            Json::object{{"accountID", "B"}, {"emailAddress", "b@x"}},
                                            Json::object{{"accountID", "C"},
                                                         {"emailAddress", "c@x"},
                                                         {"isPrimary", false},
                                                         {"parentAccountID", "A"}}});
    accounts->load();
    files.initialize();
  }

  std::string root() const { return dir.file("data/Attachments"); }
  // A finished download waiting in the downloads folder.
  std::string download(const std::string& name, const std::string& content) {
    const std::string path = dir.file("downloads/" + name);
    write(path, content);
    return path;
  }

  kestrun_test::TempDir dir;
  brelt::UvThread thread{true};
  std::shared_ptr<NotificationCenter> center = std::make_shared<NotificationCenter>(thread);
  std::shared_ptr<KvStore> store = std::make_shared<MemoryStore>();
  std::shared_ptr<AccountManagerImpl> accounts = std::make_shared<AccountManagerImpl>(center, store);
  std::shared_ptr<FileUtility> utility = std::make_shared<posix::PosixFileUtility>();
  FileManager files{dir.file("data"), dir.file("resources"), utility};
  AttachmentManagerImpl manager{utility, accounts.get(), &files};
};

TEST_F(AttachmentManagerTest, AddedFileIsMovedIntoItsFolderAndIndexed) {
  EXPECT_EQ(manager.attachmentsDirectory(), root());
  EXPECT_EQ(manager.iconsDirectory(), root() + "/Icons");
  const std::string source = download("tmp-1", "pdf bytes");

  ASSERT_TRUE(manager.addAttachment(source, "A", "E", "T", "report.pdf"));
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(manager.pathForAttachment("A", "E", "T"), root() + "/A/E/T/report.pdf");
  EXPECT_EQ(read(root() + "/A/E/T/report.pdf"), "pdf bytes");
  EXPECT_EQ(*manager.attachmentsForEmail("A", "E"), std::vector<std::string>{"T/report.pdf"});
  EXPECT_TRUE(manager.emailHasAttachments("A", "E"));
  EXPECT_TRUE(manager.attachmentExists("A", "E", "T", "report.pdf", false));

  EXPECT_EQ(manager.pathForAttachment("A", "E", "other"), "");
  EXPECT_EQ(manager.pathForAttachment("B", "E", "T"), "");
  EXPECT_TRUE(manager.attachmentsForEmail("A", "none")->empty());

  ASSERT_TRUE(manager.addAttachment(download("tmp-2", "png"), "A", "E", "P", "scan.PNG"));
  ASSERT_TRUE(manager.addAttachment(download("tmp-3", "txt"), "A", "E", "N", "notes.txt"));
  EXPECT_EQ(*manager.imageAttachmentsForEmail("A", "E"), std::vector<std::string>{"P/scan.PNG"});
}

TEST_F(AttachmentManagerTest, MissingSourceIsNotIndexed) {
  EXPECT_FALSE(manager.addAttachment(dir.file("downloads/never-written"), "A", "E", "T", "a.pdf"));
  EXPECT_EQ(manager.pathForAttachment("A", "E", "T"), "");
  EXPECT_FALSE(manager.emailHasAttachments("A", "E"));
}

TEST_F(AttachmentManagerTest, MoveAcrossFileSystemsCopiesAndRemoves) {
  const std::string other = dir.file("other-disk");
  fs::create_directories(other);
  kestrun_test::ScratchMount mount = kestrun_test::ScratchMount::tmpfs(other, 1 << 20);
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a second file system here";
  const std::string source = other + "/tmp-1";
  write(source, "from another disk");

  ASSERT_TRUE(manager.addAttachment(source, "A", "E", "T", "far.bin"));
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(read(manager.pathForAttachment("A", "E", "T")), "from another disk");
}

TEST_F(AttachmentManagerTest, RebuildReadsOnlyPrimaryAccountFolders) {
  write(root() + "/A/E1/T1/one.pdf", "1");
  write(root() + "/A/E1/T2/two.jpg", "2");
  write(root() + "/A/E2/T3/three.txt", "3");
  fs::create_directories(root() + "/A/E3/empty-attachment");  // no file: not indexed
  write(root() + "/B/E4/T4/four.gif", "4");
  write(root() + "/C/E5/T5/alias.pdf", "5");     // an alias, not a primary account
  write(root() + "/Gone/E6/T6/old.pdf", "6");    // a former account
  write(root() + "/Icons/E7/T7/icon.png", "7");  // the icons folder

  manager.rebuildIndex();  // as after a restart

  EXPECT_EQ(manager.pathForAttachment("A", "E1", "T1"), root() + "/A/E1/T1/one.pdf");
  auto e1 = *manager.attachmentsForEmail("A", "E1");
  std::sort(e1.begin(), e1.end());
  EXPECT_EQ(e1, (std::vector<std::string>{"T1/one.pdf", "T2/two.jpg"}));
  EXPECT_TRUE(manager.emailHasAttachments("A", "E2"));
  EXPECT_FALSE(manager.emailHasAttachments("A", "E3"));
  EXPECT_EQ(manager.pathForAttachment("B", "E4", "T4"), root() + "/B/E4/T4/four.gif");
  EXPECT_FALSE(manager.emailHasAttachments("C", "E5"));
  EXPECT_FALSE(manager.emailHasAttachments("Gone", "E6"));
  EXPECT_FALSE(manager.emailHasAttachments("Icons", "E7"));
  EXPECT_TRUE(fs::exists(root() + "/Gone/E6/T6/old.pdf"));  // left on disk
}

TEST_F(AttachmentManagerTest, LegacyFolderIsMigratedOnlyWhenAsked) {
  write(root() + "/A/E/report/report.pdf", "legacy");
  manager.rebuildIndex();  // indexes "report" -> report.pdf

  EXPECT_FALSE(manager.attachmentExists("A", "E", "T", "report.pdf", false));
  EXPECT_TRUE(fs::exists(root() + "/A/E/report/report.pdf"));

  EXPECT_TRUE(manager.attachmentExists("A", "E", "T", "report.pdf", true));
  EXPECT_FALSE(fs::exists(root() + "/A/E/report/report.pdf"));
  EXPECT_EQ(manager.pathForAttachment("A", "E", "T"), root() + "/A/E/T/report.pdf");
  EXPECT_EQ(read(root() + "/A/E/T/report.pdf"), "legacy");
  EXPECT_EQ(manager.pathForAttachment("A", "E", "report"), "");
  EXPECT_TRUE(manager.attachmentExists("A", "E", "T", "report.pdf", false));
}

TEST_F(AttachmentManagerTest, HostileNamesLeaveEverythingOutsideTheTreeUnchanged) {
  // Files the hostile names point at: beside the tree, in the data directory, and a victim file.
  write(dir.file("data/kestrun.db"), "database");
  write(dir.file("victim"), "keep me");
  write(root() + "/A/E/T/real.pdf", "real");
  manager.rebuildIndex();
  const std::vector<std::string> outside_before = tree(dir.file("data"));

  const struct {
    const char* account;
    const char* email;
    const char* attachment;
    std::string file;
  } names[] = {
      {"", "E", "T", "f"},
      {"..", "E", "T", "f"},
      {".", "E", "T", "f"},
      {"A", "..", "T", "f"},
      {"A", "E", "..", "f"},
      {"A", "E", "T", ".."},
      {"A", "E", "T", "."},
      {"A", "E", "T", ""},
      {"A", "E", "T", "../../../../victim"},
      {"A/../..", "E", "T", "f"},
      {"A", "E/..", "T", "f"},
      {"A", "E", "T/../..", "f"},
      {"A", "E", "T", std::string("f\0../x", 6)},
  };
  for (const auto& n : names) {
    const std::string label = std::string(n.account) + "|" + n.email + "|" + n.attachment + "|" + n.file;
    const std::string source = download("hostile", "payload");
    EXPECT_FALSE(manager.addAttachment(source, n.account, n.email, n.attachment, n.file)) << label;
    EXPECT_TRUE(fs::exists(source)) << label;  // nothing moved
    // The removals and look-ups are given the hostile ids only (real ones would rightly find or
    // remove A/E).
    const bool account_safe = AttachmentManagerImpl::isSafeName(n.account);
    if (!account_safe || !AttachmentManagerImpl::isSafeName(n.email) ||
        !AttachmentManagerImpl::isSafeName(n.attachment)) {
      EXPECT_FALSE(manager.attachmentExists(n.account, n.email, n.attachment, n.file, true)) << label;
    }
    if (!account_safe || !AttachmentManagerImpl::isSafeName(n.email))
      manager.removeAttachmentsForEmail(n.email, n.account);
    if (!account_safe) manager.removeAttachmentsForAccount(n.account);
  }
  EXPECT_EQ(tree(dir.file("data")), outside_before);
  EXPECT_EQ(read(dir.file("victim")), "keep me");
  EXPECT_EQ(manager.pathForAttachment("A", "E", "T"), root() + "/A/E/T/real.pdf");
}

TEST_F(AttachmentManagerTest, PurgingAnAccountKeepsTheOthers) {
  ASSERT_TRUE(manager.addAttachment(download("a", "of A"), "A", "E1", "T1", "a.pdf"));
  ASSERT_TRUE(manager.addAttachment(download("b", "of B"), "B", "E2", "T2", "b.pdf"));

  manager.removeAttachmentsForAccount("A");
  EXPECT_FALSE(manager.emailHasAttachments("A", "E1"));
  EXPECT_FALSE(fs::exists(root() + "/A/E1/T1/a.pdf"));
  EXPECT_EQ(read(manager.pathForAttachment("B", "E2", "T2")), "of B");

  manager.removeAttachmentsForEmail("E2", "B");
  EXPECT_FALSE(manager.emailHasAttachments("B", "E2"));
  EXPECT_FALSE(fs::exists(root() + "/B/E2/T2/b.pdf"));

  ASSERT_TRUE(manager.addAttachment(download("c", "again"), "B", "E3", "T3", "c.pdf"));
  manager.clear();
  EXPECT_FALSE(manager.emailHasAttachments("B", "E3"));
  EXPECT_TRUE(tree(root()).empty());
}

}  // namespace
}  // namespace libkestrun
