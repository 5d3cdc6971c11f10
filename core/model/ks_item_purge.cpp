// Purging a conversation: its e-mails and their attachment files go with it; its drafts, unless
// kept, live on as new messages of their own.
#include <memory>
#include <utility>

#include "core/accounts/user_manager.h"
#include "core/model/db_context.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/services/attachment_manager.h"
#include "core/sync/server_client.h"
#include "core/sync/user_item_commands.h"

void KSItem::purge(const std::shared_ptr<KSItem>& item, KestrunContext* context, bool keepDrafts) {
  if (!item) return;
  if (auto rule = item->autoSwipe()) rule->removeItem(item);
  if (auto filedIn = item->list()) filedIn->removeItem(item);
  if (auto emails = item->emails()) {
    for (const auto& email : *emails) {
      libkestrun::attachment_manager_remove_attachments_for_email(email->get_EMAILID(),
                                                                  email->get_ACCOUNTID());
      context->deleteObject(email);
    }
  }
  auto drafts = item->drafts();
  if (!keepDrafts && drafts) {
    const std::string deviceID = libkestrun::user_manager_get_device_id();
    auto* database =
        context->kind() == KestrunContext::kPersistentKind ? dynamic_cast<DBContext*>(context) : nullptr;
    for (libkestrun::internal::Draft draft : *drafts) {
      draft.set_version(draft.get_version().incremented(deviceID));
      draft.set_item_id(std::nullopt);
      draft.set_type(libkestrun::EmailSendType::NewMessage);
      context->insertDraft(draft);
      if (database == nullptr) continue;
      database->updateItemForDraft(draft);
      libkestrun::internal::server_client_send_command(std::make_unique<libkestrun::UserItemSave>(draft));
    }
  }
  context->deleteObject(item);
}
