// One operation per local change of the store. Each operation copies its arguments into a data
// task, hands it to the data center at normal priority (an empty first completion, the caller's
// completion second) and returns at once; the task runs later on the core thread, inside the data
// center's transaction: it fetches the objects, changes them, records the undo step, moves the
// account's counts and sends the change documents to the server. The data center then commits,
// re-runs the live queries, posts "com.kestrun.data.center.saved" and calls the completion with
// the ids the task reported (most operations report none).
//
// There is no instance and no state: every operation is static and may be called from any thread.
// Operations called one after another run in call order. None reports an error of its own; an id
// that names nothing makes the task do nothing, and the completion still runs.
//
// Triage tasks (archive, back to the inbox, trash, spam, defer) hold the undo manager's recursive
// mutex from before they clear the undo step until their last record, so a reader of the step on
// another thread sees either the old step or the whole new one.
//
// The routines the operations share (item state changes, the update's meta object, e-mail flags,
// the task shapes) are declared in data_writer_routines.h. Each group of operations below lives in
// its own source file.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/data/data_center.h"
#include "core/store/draft.h"
#include "core/store/model_enums.h"
#include "core/sync/kestrun_object_server_client.h"

class KestrunDataWriter {
 public:
  using Completion = KestrunDataCenter::Completion;
  using Ids = std::vector<std::string>;

  KestrunDataWriter() = delete;

  // --- Triage: archive, inbox, trash, spam, erase, re-order (data_writer_triage.cpp) ---
  // A single-item operation writes each request at once and reports the item's id when it moved
  // (nothing for an unknown item or one already in the target state); `overrideEngagedToBeFalse`
  // reports the conversation as not engaged whatever its read state. A batch queues its requests and sends
  // them as one message; unknown ids and items already in the target state are skipped.
  static void completeItem(const std::string& itemId, Completion completion,
                           bool overrideEngagedToBeFalse = false);
  static void completeItems(const Ids& itemIds, Completion completion);
  static void activateItem(const std::string& itemId, Completion completion,
                           bool overrideEngagedToBeFalse = false);
  static void activateItems(const Ids& itemIds, Completion completion);
  static void deleteItem(const std::string& itemId, Completion completion,
                         bool overrideEngagedToBeFalse = false);
  static void deleteItems(const Ids& itemIds, Completion completion);
  static void spamifyItem(const std::string& itemId, Completion completion,
                          bool overrideEngagedToBeFalse = false);
  static void spamifyItems(const Ids& itemIds, Completion completion);
  // Erasing for good acts only on items in the trash or spam, with their drafts; it leaves the
  // undo step alone.
  static void fullDeleteItem(const std::string& itemId, Completion completion);
  static void fullDeleteItems(const Ids& itemIds, Completion completion);
  // Erases the given trash items, then asks the server to purge the trash of every primary
  // account from its oldest inbox item's time on (accounts without inbox items are skipped).
  static void fullDeleteAllTrash(const Ids& itemIds, Completion completion);
  // Places an inbox or list item between two others of a list ordered by modification time,
  // below `afterItemId` and above `beforeItemId`. No undo step, no counts.
  static void moveItemBetweenItems(const std::string& itemId, const std::string& afterItemId,
                                   const std::string& beforeItemId, Completion completion);

  // --- Deferral and device triggers (data_writer_deferral.cpp) ---
  // Times are milliseconds since 1970; a time of 0 means the snooze type's own time. An item
  // already deferred is deferred again with the new values.
  static void deferItemUntilDate(const std::string& itemId, int64_t time, libkestrun::SnoozeType snoozeType,
                                 Completion completion, bool overrideEngagedToBeFalse = false);
  static void deferItemsUntilDate(const Ids& itemIds, int64_t time, libkestrun::SnoozeType snoozeType,
                                  Completion completion);
  static void deferItemWithSnoozeType(const std::string& itemId, libkestrun::SnoozeType snoozeType,
                                      Completion completion, bool overrideEngagedToBeFalse = false);
  // Every item of the batch gets the one remind time computed when the task starts.
  static void deferItemsWithSnoozeType(const Ids& itemIds, libkestrun::SnoozeType snoozeType,
                                       Completion completion);
  // Marks that moving the conversation no longer needs to read it; no undo step, no counts.
  static void deferReadItem(const std::string& itemId, Completion completion);
  // Returns the items deferred to a device kind (snooze type 11 or 12) to the inbox; the batch
  // covers one account, or every account for an empty id. No undo step.
  static void triggerDeviceDeferredItem(const std::string& itemId, libkestrun::SnoozeType snoozeType,
                                        Completion completion);
  static void triggerAllDeviceDeferredItems(libkestrun::SnoozeType snoozeType, const std::string& accountId,
                                            Completion completion);

  // --- E-mail read, star, flag and full body text (data_writer_email_flags.cpp) ---
  // An e-mail whose attachments are still uploading (an outgoing e-mail not yet sent) changes
  // locally only.
  static void readEmail(const std::string& emailId, Completion completion);
  static void unreadEmail(const std::string& emailId, Completion completion);
  static void starEmail(const std::string& emailId, Completion completion);
  static void unstarEmail(const std::string& emailId, Completion completion);
  // Reports the e-mail to the server; an empty reason is left out. Nothing changes locally.
  static void flagEmail(const std::string& emailId, const std::string& reason, Completion completion);
  // Stores a downloaded full body, marked as HTML. The text comes first.
  static void saveFullBodyText(const std::string& text, const std::string& emailId, Completion completion);

  // --- Filing in lists, archive all, read and star of items (data_writer_lists.cpp) ---
  // Filing files the item under its account's account list of the list (created and announced
  // when missing) and takes it out of any other list; an item already in that list, an unknown
  // item or list changes nothing. A batch with an unknown list leaves the undo step as it was.
  static void associateItemWithList(const std::string& itemId, const std::string& listId,
                                    Completion completion, bool overrideEngagedToBeFalse = false);
  static void associateItemsWithList(const Ids& itemIds, const std::string& listId, Completion completion);
  // Archives the inbox items that the type selects, of every primary account or of one, in one
  // batch, and asks the server to do the same (ARCHIVE_ALL) for each account with inbox items.
  // Type 1 then forgets every account's inbox count, or sets the one account's to 0.
  static void archiveAll(libkestrun::ArchiveAllType type, Completion completion);
  static void archiveAllForAccount(libkestrun::ArchiveAllType type, const std::string& accountId,
                                   Completion completion);
  // Every e-mail of the conversation read, or unstarred, in one message; nothing when the
  // conversation already is. No undo step, no counts.
  static void readItem(const std::string& itemId, Completion completion);
  static void unstarItem(const std::string& itemId, Completion completion);
  // The newest e-mail of the conversation (the greatest creation time) starred, or marked unread;
  // unreadItem reports that e-mail's id to the completion.
  static void starItem(const std::string& itemId, Completion completion);
  static void unreadItem(const std::string& itemId, Completion completion);

  // --- List management (data_writer_list_management.cpp) ---
  // Names are used as given: validating and cleaning them is the caller's (KSList). An empty name
  // or id vector queues nothing and never calls the completion.
  // Creates the list, or finds it, and makes sure every primary account has its account list;
  // reports the list's id.
  static void createList(const std::string& name, Completion completion);
  // Moves the list's items, account lists and order key to the list of the new name (created, or
  // an existing one, which merges the two); each account list is renamed on the server. The old
  // list goes once no account list is left in it. Reports the id of the list that took the items.
  static void renameList(const std::string& listId, const std::string& newName, Completion completion);
  // Gives the lists the keys 0, 1, 2... in the vector's order; unknown ids take no key.
  static void reorderList(Ids listIds, Completion completion);
  // Archives the list's items in one batch, deletes its account lists on the server and here,
  // and removes the list and its order key.
  static void deleteList(const std::string& listId, Completion completion);

  // --- Drafts and sending e-mail (data_writer_drafts.cpp) ---
  // The draft is final: its caller advanced this device's version and set its times and texts.
  // Saving stores it (unless a newer version is stored), files it under its conversation (or its
  // own draft-only item) and sends one "USER_ITEM_SAVE"; removing takes it out of both and sends
  // one "USER_ITEM_REMOVE". The completion gets no ids.
  static void save_draft(const libkestrun::internal::Draft& draft, Completion completion);
  static void delete_draft(const libkestrun::internal::Draft& draft, Completion completion);
  // Creates the outgoing e-mail `emailID` (send state 1, sending) and asks the server to send it.
  // `to`, `cc` and `bcc` are jansson arrays of {"address", "name"} taken over by the call (null
  // allowed). One of `conversation` (text above the quoted history) and `fullBody` (a body edited
  // whole) is filled. `from` is the chosen account or alias; a reply, reply all or forward names
  // the answered e-mail in `associatedEmailID`, goes out from the answered e-mail's account unless
  // `from` is that account or one of its aliases, and always carries the signature of `from`.
  //   reply, reply all: the answered e-mail's reply subject, in its conversation, sent as a reply
  //                     (type 1) with the answered e-mail as reference; ids: the e-mail's.
  //   forward:          `subject` (the answered one when empty) in a new archived conversation;
  //                     ids: the item's, then the e-mail's.
  //   new message:      `subject` in a new archived conversation of the primary account of `from`,
  //                     the body kept as its full body; ids: the item's, then the e-mail's.
  // While attachments of the e-mail are uploading the send waits with the resource manager, which
  // calls sendSavedEmail when they are done. Nothing is queued, and the completion never runs,
  // without a recipient, for a reply, reply all or forward without `associatedEmailID`, or for a
  // new message without `from`; other send types queue a task that does nothing.
  static void sendEmail(const std::string& emailID, const std::string& subject,
                        const std::string& conversation, const std::string& fullBody, const std::string& from,
                        json_t* to, json_t* cc, json_t* bcc, const std::string& associatedEmailID,
                        libkestrun::EmailSendType sendType, Completion completion);
  // Sends a stored outgoing e-mail once its uploads are done, only while it is sending (1) or its
  // send failed (4); its own sync data goes with it as the reference. The completion gets no ids.
  static void sendSavedEmail(const std::string& emailID, libkestrun::EmailSendType sendType,
                             const std::optional<std::string>& associatedEmailID, bool isFullBody,
                             Completion completion);
  // An outgoing e-mail that is still sending (1) and can no longer be sent (an attachment it
  // waited for is gone) becomes send failed (4); reports its id when it changed.
  static void markEmailSendFailed(const std::string& emailID, Completion completion);

  // --- Contacts and auto-swipe rules (data_writer_rules.cpp) ---
  // Finds or makes the contact of the address and name (an empty name is none); reports its id,
  // or nothing when the address is not an e-mail address.
  static void addContact(const std::string& emailAddress, const std::string& name, Completion completion);
  // Sets or clears priority access on every contact of the address (one per name). Local only.
  static void updateContactAsPriority(const std::string& emailAddress, bool priority, Completion completion);
  // Creates (or updates: one rule per user, field and value) the current user's active rule, moves
  // the item from its old rule to it, then accepts it for the item as activateAutoSwipeForItem
  // does; the completion runs once, after that second commit. Without a current user nothing is
  // created. `remindAt` 0 or less is no time.
  static void createAutoSwipe(const std::string& itemId, libkestrun::AutoSwipeField field,
                              const std::string& value, const std::string& auxiliaryInfo,
                              libkestrun::ItemState destination, libkestrun::SnoozeType snoozeType,
                              int64_t remindAt, const std::string& listName, Completion completion);
  // The rules below act only on the current user's rules. Accepting makes the item's rule active
  // and swipes every item of it to its destination (undo steps and counts as for any triage),
  // then tells the server with decision 10 and the number of items.
  static void activateAutoSwipeForItem(const std::string& itemId, Completion completion);
  // Turns the item's rule down (12) or switches a rule off (11): the rule is ignored from then on
  // and lets all its items go.
  static void ignoreAutoSwipeForItem(const std::string& itemId, Completion completion);
  static void disableAutoSwipe(const std::string& autoSwipeId, Completion completion);
};

namespace libkestrun {

// The "action" of an "AUTO_SWIPE_DECISION": what the user decided about a rule.
enum class AutoSwipeDecisionAction : int {
  Accepted = 10,
  SwitchedOff = 11,
  TurnedDown = 12,
};

}  // namespace libkestrun
