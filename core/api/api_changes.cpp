// Local changes of the facade: every change the user makes to items, e-mails, lists, contacts and
// auto-swipe rules goes to one operation of the data writer, which queues it as a data task on the
// core thread and returns at once; the completion runs there after the commit with the changed
// ids. The facade posts nothing of its own, so changes made from one thread apply in call order.
//
// Four operations do more than forward: the three that create a list and then act on it chain the
// second task from the first one's completion, and emptying the trash from the store first reads
// the trash under the consumer center's mutex.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/api/api.h"
#include "core/data/background_writer.h"
#include "core/data/consumer_center.h"
#include "core/data/data_writer.h"
#include "core/model/ks_item.h"

namespace libkestrun {

void Api::archive_item(const std::string& itemId, ChangeDone done, bool overrideEngaged) {
  KestrunDataWriter::completeItem(itemId, std::move(done), overrideEngaged);
}

void Api::archive_items(const std::vector<std::string>& itemIds, ChangeDone done) {
  KestrunDataWriter::completeItems(itemIds, std::move(done));
}

void Api::delete_item(const std::string& itemId, ChangeDone done, bool overrideEngaged) {
  KestrunDataWriter::deleteItem(itemId, std::move(done), overrideEngaged);
}

void Api::delete_items(const std::vector<std::string>& itemIds, ChangeDone done) {
  KestrunDataWriter::deleteItems(itemIds, std::move(done));
}

void Api::full_delete_item(const std::string& itemId, ChangeDone done) {
  KestrunDataWriter::fullDeleteItem(itemId, std::move(done));
}

void Api::full_delete_items(const std::vector<std::string>& itemIds, ChangeDone done) {
  KestrunDataWriter::fullDeleteItems(itemIds, std::move(done));
}

void Api::full_delete_all_trash(const std::vector<std::string>& itemIds, ChangeDone done) {
  KestrunDataWriter::fullDeleteAllTrash(itemIds, std::move(done));
}

void Api::spamify_item(const std::string& itemId, ChangeDone done, bool overrideEngaged) {
  KestrunDataWriter::spamifyItem(itemId, std::move(done), overrideEngaged);
}

void Api::spamify_items(const std::vector<std::string>& itemIds, ChangeDone done) {
  KestrunDataWriter::spamifyItems(itemIds, std::move(done));
}

void Api::activate_item(const std::string& itemId, ChangeDone done, bool overrideEngaged) {
  KestrunDataWriter::activateItem(itemId, std::move(done), overrideEngaged);
}

void Api::activate_items(const std::vector<std::string>& itemIds, ChangeDone done) {
  KestrunDataWriter::activateItems(itemIds, std::move(done));
}

void Api::defer_item_with_snooze_type(const std::string& itemId, SnoozeType snoozeType, ChangeDone done,
                                      bool overrideEngaged) {
  KestrunDataWriter::deferItemWithSnoozeType(itemId, snoozeType, std::move(done), overrideEngaged);
}

void Api::defer_items_with_snooze_type(const std::vector<std::string>& itemIds, SnoozeType snoozeType,
                                       ChangeDone done) {
  KestrunDataWriter::deferItemsWithSnoozeType(itemIds, snoozeType, std::move(done));
}

// A date chosen by the user is no snooze choice: the item records snooze type none.
void Api::defer_item_until_date(const std::string& itemId, int64_t time, ChangeDone done,
                                bool overrideEngaged) {
  KestrunDataWriter::deferItemUntilDate(itemId, time, SnoozeType::None, std::move(done), overrideEngaged);
}

void Api::defer_items_until_date(const std::vector<std::string>& itemIds, int64_t time, ChangeDone done) {
  KestrunDataWriter::deferItemsUntilDate(itemIds, time, SnoozeType::None, std::move(done));
}

void Api::associate_item_with_list(const std::string& itemId, const std::string& listId, ChangeDone done,
                                   bool overrideEngaged) {
  KestrunDataWriter::associateItemWithList(itemId, listId, std::move(done), overrideEngaged);
}

void Api::associate_items_with_list(const std::vector<std::string>& itemIds, const std::string& listId,
                                    ChangeDone done) {
  KestrunDataWriter::associateItemsWithList(itemIds, listId, std::move(done));
}

void Api::move_item_between_items(const std::string& itemId, const std::string& afterItemId,
                                  const std::string& beforeItemId, ChangeDone done) {
  KestrunDataWriter::moveItemBetweenItems(itemId, afterItemId, beforeItemId, std::move(done));
}

void Api::defer_read_item(const std::string& itemId, ChangeDone done) {
  KestrunDataWriter::deferReadItem(itemId, std::move(done));
}

void Api::read_item(const std::string& itemId, ChangeDone done) {
  KestrunDataWriter::readItem(itemId, std::move(done));
}

void Api::unread_item(const std::string& itemId, ChangeDone done) {
  KestrunDataWriter::unreadItem(itemId, std::move(done));
}

void Api::star_item(const std::string& itemId, ChangeDone done) {
  KestrunDataWriter::starItem(itemId, std::move(done));
}

void Api::unstar_item(const std::string& itemId, ChangeDone done) {
  KestrunDataWriter::unstarItem(itemId, std::move(done));
}

void Api::read_email(const std::string& emailId, ChangeDone done) {
  KestrunDataWriter::readEmail(emailId, std::move(done));
}

void Api::unread_email(const std::string& emailId, ChangeDone done) {
  KestrunDataWriter::unreadEmail(emailId, std::move(done));
}

void Api::star_email(const std::string& emailId, ChangeDone done) {
  KestrunDataWriter::starEmail(emailId, std::move(done));
}

void Api::unstar_email(const std::string& emailId, ChangeDone done) {
  KestrunDataWriter::unstarEmail(emailId, std::move(done));
}

void Api::create_list(const std::string& name, ChangeDone done) {
  KestrunDataWriter::createList(name, std::move(done));
}

void Api::rename_list(const std::string& listId, const std::string& newName, ChangeDone done) {
  KestrunDataWriter::renameList(listId, newName, std::move(done));
}

void Api::delete_list(const std::string& listId, ChangeDone done) {
  KestrunDataWriter::deleteList(listId, std::move(done));
}

void Api::reorder_list(const std::vector<std::string>& listIds, ChangeDone done) {
  KestrunDataWriter::reorderList(listIds, std::move(done));
}

void Api::add_contact(const std::string& address, const std::string& name, ChangeDone done) {
  KestrunDataWriter::addContact(address, name, std::move(done));
}

void Api::update_contact_as_priority(const std::string& contactId, bool priority, ChangeDone done) {
  KestrunDataWriter::updateContactAsPriority(contactId, priority, std::move(done));
}

void Api::send_email(const std::string& emailId, const std::string& subject, const std::string& conversation,
                     const std::string& fullBody, const std::string& from, json_t* to, json_t* cc,
                     json_t* bcc, const std::string& associatedEmailId, EmailSendType sendType,
                     ChangeDone done) {
  KestrunDataWriter::sendEmail(emailId, subject, conversation, fullBody, from, to, cc, bcc, associatedEmailId,
                               sendType, std::move(done));
}

void Api::archive_all(ArchiveAllType type, ChangeDone done) {
  KestrunDataWriter::archiveAll(type, std::move(done));
}

void Api::archive_all_for_account(ArchiveAllType type, const std::string& accountId, ChangeDone done) {
  KestrunDataWriter::archiveAllForAccount(type, accountId, std::move(done));
}

void Api::flag_email(const std::string& emailId, const std::string& reason, ChangeDone done) {
  KestrunDataWriter::flagEmail(emailId, reason, std::move(done));
}

void Api::create_auto_swipe(const std::string& itemId, AutoSwipeField field, const std::string& value,
                            const std::string& auxiliaryInfo, ItemState destination, SnoozeType snoozeType,
                            int64_t remindAt, const std::string& listName, ChangeDone done) {
  KestrunDataWriter::createAutoSwipe(itemId, field, value, auxiliaryInfo, destination, snoozeType, remindAt,
                                     listName, std::move(done));
}

void Api::accept_auto_swipe_for_item(const std::string& itemId, ChangeDone done) {
  KestrunDataWriter::activateAutoSwipeForItem(itemId, std::move(done));
}

void Api::ignore_auto_swipe_for_item(const std::string& itemId, ChangeDone done) {
  KestrunDataWriter::ignoreAutoSwipeForItem(itemId, std::move(done));
}

void Api::disable_auto_swipe(const std::string& autoSwipeId, ChangeDone done) {
  KestrunDataWriter::disableAutoSwipe(autoSwipeId, std::move(done));
}

void Api::create_contacts_from_list(json_t* contacts, ChangeDone done) {
  KestrunDataBackgroundWriter::createContactsFromList(contacts, std::move(done));
}

// The list task reports the list's id first; without a usable id there is nothing to file into,
// and the caller's completion is dropped.
void Api::create_list_and_associate_item(const std::string& name, const std::string& itemId, ChangeDone done,
                                         bool overrideEngaged) {
  create_list(name, [this, itemId, done = std::move(done), overrideEngaged](std::vector<std::string>& ids) {
    if (ids.empty() || ids.front().empty()) return;
    associate_item_with_list(itemId, ids.front(), done, overrideEngaged);
  });
}

void Api::create_list_and_associate_items(const std::string& name, const std::vector<std::string>& itemIds,
                                          ChangeDone done) {
  create_list(name, [this, itemIds, done = std::move(done)](std::vector<std::string>& ids) {
    if (ids.empty() || ids.front().empty()) return;
    associate_items_with_list(itemIds, ids.front(), done);
  });
}

// The rule files its items into the list by name, so the list task's ids are not needed.
void Api::create_list_and_create_auto_swipe(const std::string& name, const std::string& itemId,
                                            AutoSwipeField field, const std::string& value,
                                            const std::string& auxiliaryInfo, ChangeDone done) {
  create_list(name, [this, name, itemId, field, value, auxiliaryInfo,
                     done = std::move(done)](std::vector<std::string>&) {
    create_auto_swipe(itemId, field, value, auxiliaryInfo, ItemState::List, SnoozeType::None, 0, name, done);
  });
}

// Reads the trash under the consumer center's mutex, so the read never overlaps a query pass on
// the core thread; an empty trash still queues the (empty) erase, whose completion then runs.
void Api::full_delete_all_trash_items(ChangeDone done) {
  std::vector<std::string> ids;
  KestrunConsumerCenter::withDBContext([&](DBContext& db) {
    KSObjects<KSItem> trash = KSItem::trashItems(&db);
    if (!trash) return;
    ids.reserve(trash->size());
    for (const auto& item : *trash) ids.push_back(item->itemID());
  });
  KestrunDataWriter::fullDeleteItems(ids, std::move(done));
}

}  // namespace libkestrun
