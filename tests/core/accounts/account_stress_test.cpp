// The application thread reads lists and records while the core thread adds, renames and removes
// accounts and aliases; run under the sanitizers it shows that no record is read while it changes.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "accounts_fixture.h"

namespace kestrun_test {
namespace {

using jsonette::Json;

TEST_F(AccountsTest, TheApplicationThreadReadsWhileTheCoreThreadChangesAccounts) {
  std::atomic<bool> done{false};
  core.post([this, &done] {
    for (int i = 0; i < 400; ++i) {
      const std::string id = "A" + std::to_string(i % 12);
      json_t* document = json_pack("{s:s, s:s, s:s, s:[{s:s}]}", "account_id", id.c_str(), "data",
                                   (id + "@x").c_str(), "name", ("Name " + std::to_string(i)).c_str(),
                                   "aliases", "address", ("alias" + std::to_string(i % 3) + "@x").c_str());
      manager->updateFromStateDoc(document);
      json_decref(document);
      json_t* aliases = json_pack("[{s:s}, {s:s}]", "address",
                                  ("other" + std::to_string(i % 4) + "@x").c_str(), "address", "shared@x");
      manager->handleAccountAuthorized(id, "Renamed " + std::to_string(i), "Label " + std::to_string(i),
                                       aliases);
      json_decref(aliases);
      manager->setEmailSignature(id, "sig " + std::to_string(i));
      if (i % 3 == 0) manager->removeAccountLocally("A" + std::to_string((i + 5) % 12));
      if (i % 5 == 0) manager->setDefaultAccount(id);
    }
    done = true;
  });

  size_t seen = 0;
  while (!done) {
    const libkestrun::EmailAccountList current = manager->allEmailAccounts();
    for (const auto& record : *current) {
      seen += record->emailName.size() + record->emailDescription.size() + record->emailSignature.size();
    }
    const libkestrun::EmailAccountList unique = manager->allUniqueEmailAccounts();
    for (const auto& record : *unique) seen += record->emailAddress.size();
    if (auto fallback = manager->getDefaultAccount()) seen += fallback->emailName.size();
    if (auto record = manager->emailAccountWithID("A3")) seen += record->emailDescription.size();
    seen += manager->allPrimaryAccountIDs()->size() + manager->hasEmailAddress("shared@x");
  }
  EXPECT_GT(seen, 0u);

  // The indexes agree with each other and with the stored array.
  core.post_sync([] {});
  const auto all = manager->allEmailAccounts();
  EXPECT_EQ(stored().array_items().size(), all->size());
  size_t defaults = 0;
  for (const auto& record : *all) {
    defaults += record->isDefault;
    if (!record->isPrimary) {
      EXPECT_NE(manager->emailAccountWithID(record->parentAccountID), nullptr);
    }
    EXPECT_TRUE(manager->hasEmailAddress(record->emailAddress));
  }
  EXPECT_EQ(defaults, 1u);
}

}  // namespace
}  // namespace kestrun_test
