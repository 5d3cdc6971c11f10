// The draft operations of the facade. Making, saving and deleting run on the caller's thread and
// touch only the caller's draft value and the user manager's ids; the data writer stores the
// result in a data task on the core thread, where `done` runs. The read-outs read the consumer
// context under the consumer center's lock, so they never overlap a query pass.
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "brelt/uuid.h"
#include "core/api/api.h"
#include "core/data/consumer_center.h"
#include "core/data/data_writer.h"
#include "core/foundation/ks_string.h"
#include "core/foundation/utility.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"

namespace libkestrun {

namespace {

// The id of a draft-only item is this prefix followed by the draft's id.
constexpr char kDraftItemPrefix[] = "draft_item_";

using ConvoQuery = FnDataQuery<KSConvoItem, KSConvoItem::GetId>;

// Registers a conversation query over `fetch` under `query_id`; the first rows reach the observer
// before this returns.
void add_convo_query(const std::string& query_id, ConvoQuery::FetchFn fetch,
                     std::shared_ptr<DataQueryObserver<KSConvoItem>> observer) {
  auto query = std::make_unique<ConvoQuery>(query_id, std::move(fetch), KSConvoItem::ModifiedAtAsc(),
                                            std::move(observer));
  KestrunConsumerCenter::addConvoItemQuery(query_id, std::move(query));
}

}  // namespace

internal::Draft Api::get_new_draft(const std::optional<std::string>& item_id,
                                   const std::optional<std::string>& base_email_id) {
  internal::Draft draft;
  draft.set_user_id(managers_.user_manager->getUserId());
  draft.set_draft_id(brelt::generate_uuid_upper());
  draft.set_item_id(item_id);
  const int64_t now = Utility::now_ms();
  draft.set_created_at(now);
  draft.set_modified_at(now);
  draft.set_eventual_email_id(KSEmail::generateID());
  draft.set_base_email_id(base_email_id);
  draft.set_is_full_body(false);
  return draft;
}

void Api::save_draft(internal::Draft& draft, std::function<void()> done) {
  draft.set_version(draft.get_version().incremented(managers_.user_manager->getDeviceId()));
  draft.set_content(KSString::empty_kestrun_tags(draft.get_content()));
  draft.set_plain_content(Utility::html_to_text(draft.get_content()));
  draft.set_modified_at(Utility::now_ms());
  KestrunDataWriter::save_draft(draft, [done = std::move(done)](std::vector<std::string>&) {
    if (done) done();
  });
}

void Api::save_draft(internal::Draft& draft) { save_draft(draft, nullptr); }

void Api::delete_draft(internal::Draft& draft, std::function<void(std::vector<std::string>&)> done) {
  draft.set_version(draft.get_version().incremented(managers_.user_manager->getDeviceId()));
  draft.set_modified_at(Utility::now_ms());
  KestrunDataWriter::delete_draft(draft, std::move(done));
}

std::optional<internal::Draft> Api::get_draft_from_temporary_item_id(const std::string& item_id) {
  if (item_id.rfind(kDraftItemPrefix, 0) != 0) return std::nullopt;
  const std::string draft_id = item_id.substr(sizeof(kDraftItemPrefix) - 1);
  std::optional<internal::Draft> draft;
  KestrunConsumerCenter::withDBContext([&](DBContext& context) { draft = context.fetchDraft(draft_id); });
  return draft;
}

std::shared_ptr<KestrunObject> Api::get_most_recent_item_with_only_drafts() {
  std::shared_ptr<KestrunObject> item;
  KestrunConsumerCenter::withDBContext([&](DBContext& context) {
    KSObjects<KSItem> rows = context.newestDraftOnlyItem();
    if (rows && !rows->empty()) item = rows->front();
  });
  return item;
}

void Api::perform_query_convo_items_for_item(const std::string& query_id, const std::string& item_id,
                                             std::shared_ptr<DataQueryObserver<KSConvoItem>> observer) {
  add_convo_query(
      query_id,
      [item_id](const std::string&, KestrunContext& context) { return context.convoItemsForItem(item_id); },
      std::move(observer));
}

void Api::perform_query_single_draft(const std::string& query_id, const std::string& draft_id,
                                     std::shared_ptr<DataQueryObserver<KSConvoItem>> observer) {
  add_convo_query(
      query_id,
      [draft_id](const std::string&, KestrunContext& context) {
        return context.convoItemsForDraft(draft_id);
      },
      std::move(observer));
}

}  // namespace libkestrun
