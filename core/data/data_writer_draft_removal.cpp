// Removing a draft: from the store, from its conversation, and from the server.
#include <memory>

#include "core/data/data_writer_routines.h"
#include "core/sync/server_client.h"
#include "core/sync/user_item_commands.h"

namespace libkestrun::internal {

void internalDeleteDraft(const Draft& draft, DBContext& context) {
  context.deleteDraft(draft);
  context.removeDraft(draft.get_draft_id());
  // Supersedes a stored save or removal of the draft with an older version.
  server_client_send_command(std::make_unique<UserItemRemove>(draft));
}

}  // namespace libkestrun::internal
