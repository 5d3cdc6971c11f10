// The e-mails a reply answers, printable pages, and the facade's small utilities.
//
// The reads run on the caller's thread against the consumer context, inside the consumer
// center's lock, so they never overlap a query pass on the core thread. An id that names no
// stored object gives an empty result.
#include <utility>

#include "brelt/uuid.h"
#include "core/api/api.h"
#include "core/data/consumer_center.h"
#include "core/data/data_center.h"
#include "core/foundation/ks_string.h"
#include "core/model/kestrun_object.h"
#include "localization/localization.h"

namespace libkestrun {

std::vector<std::shared_ptr<KSEmail>> Api::emails_to_reply_to_from_item_id(
    const std::string& item_id, EmailSendType send_type, const std::vector<std::string>& visible_email_ids,
    const std::unordered_set<std::string>& opened_email_ids) {
  std::vector<std::shared_ptr<KSEmail>> emails;
  KestrunConsumerCenter::withDBContext([&](DBContext& context) {
    std::shared_ptr<KSItem> item = KSItem::fetch(item_id, &context);
    if (!item) return;
    std::string address = managers_.account_manager->emailAddressForAccountID(item->accountID());
    emails = ui_utility_->emails_to_reply_to(item, address, static_cast<int>(send_type), visible_email_ids,
                                             opened_email_ids);
  });
  return emails;
}

std::string Api::print_conversation(const std::string& item_id) {
  std::string html;
  KestrunConsumerCenter::withDBContext([&](DBContext& context) {
    std::shared_ptr<KSItem> item = KSItem::fetch(item_id, &context);
    if (item) html = ui_utility_->print_conversation(item);
  });
  return html;
}

std::string Api::print_email(const std::string& email_id) {
  std::string html;
  KestrunConsumerCenter::withDBContext([&](DBContext& context) {
    std::shared_ptr<KSEmail> email = KSEmail::fetch(email_id, &context);
    if (email) html = ui_utility_->print_email(email);
  });
  return html;
}

std::string Api::harnvik_locale() { return Localization::instance().get_current_locale(); }

bool Api::is_valid_email_address(const std::string& text) { return KSString::is_valid_email(text); }

std::string Api::generate_unique_id() { return brelt::generate_uuid_upper(); }

int64_t Api::default_date_value() { return KestrunObject::unsetTime; }

// Search results live in the data center's memory context, which belongs to the core thread.
void Api::memory_warning() { KestrunDataCenter::clearMemoryStore(); }

std::string Api::generate_short_name_from_name(const std::string& full_name) {
  return KSString::short_name(full_name);
}

// The performance logger belongs to the core thread, where it writes its records.
void Api::set_ledger_context(libledger_context* context, const libledger_callbacks* callbacks) {
  post([this, context, callbacks] { perf_logger_->setLedgerContext(context, callbacks); });
}

}  // namespace libkestrun
