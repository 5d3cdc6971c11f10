// The small integer enumerations that the data model stores in its columns and sends to the
// server. Each has a fixed underlying type, so any integer read from a row or a document converts
// to it with a well-defined value, named or not, and is written back unchanged.
#pragma once

#include <cstdint>

namespace libkestrun {

// The triage state of an item (also the destination of an auto-swipe rule).
enum class ItemState : int32_t {
  None = 0,
  Later = 1,
  Inbox = 2,
  Archive = 3,
  Trash = 4,
  List = 5,
  Deleted = 6,
  ServerHidden = 8,
  Spam = 9,
};

// How an item is deferred.
enum class DeferralType : int32_t {
  NotDeferred = 1,
  UntilTime = 2,  // a time the user chose; SnoozeType::None
  BySnooze = 4,   // a snooze choice: its time, or the next device of a kind that becomes active
};

// The snooze choice of a deferral. 0, 9, 10 and values above 12 are not used and read as None.
enum class SnoozeType : int32_t {
  None = 1,
  LaterToday = 2,
  ThisEvening = 3,
  Tomorrow = 4,
  ThisWeekend = 5,
  NextWeek = 6,
  InAMonth = 7,
  Someday = 8,
  Desktop = 11,
  Mobile = 12,
};

// The section of the deferred list that shows a deferred item; the sections are shown in this
// order.
enum class DeferralBucket : int32_t {
  Desktop = 0,
  Mobile = 1,
  LaterToday = 2,
  Tomorrow = 3,
  LaterThisWeek = 4,
  ThisWeekend = 5,
  NextWeek = 6,
  InTwoWeeks = 7,
  InThreeWeeks = 8,
  InOneMonth = 9,
  InTwoMonths = 10,
  InThreeMonths = 11,
  InFourMonths = 12,
  InFiveMonths = 13,
  InSixMonths = 14,
  InSevenMonths = 15,
  InEightMonths = 16,
  InNineMonths = 17,
  InTenMonths = 18,
  InElevenMonths = 19,
  InAYear = 20,
  InTwoOrMoreYears = 21,
  NoReminder = 22,  // unset, past or not deferred; the default
};

// What an auto-swipe rule matches.
enum class AutoSwipeField : int32_t {
  Conversation = 30,
  Sender = 31,
  Recipient = 32,
};

// The state of an auto-swipe rule, and what a rule did to an item.
enum class AutoSwipeRuleState : int32_t {
  None = 0,
  Suggested = 20,
  Active = 21,
  Ignored = 22,
  SwipedByOtherUser = 23,
};

// The server's item type, stored and sent back as received.
enum class ItemType : int32_t {
  Default = 1,
};

// The sending state of an e-mail the user sends.
enum class EmailSendState : int32_t {
  None = 0,
  Sending = 1,
  Sent = 2,
  WaitingToSend = 3,
  SendFailed = 4,
};

// The kind of an outgoing message.
enum class EmailSendType : int32_t {
  Reply = 1,
  Forward = 2,
  NewMessage = 3,
  ReplyAll = 4,
};

}  // namespace libkestrun
