// What the conversation view asks of the core beyond its queries: which e-mails of a conversation
// a reply, reply all or forward answers, and a conversation or one e-mail as a self-contained
// HTML page for printing (complete UTF-8 HTML with a fixed style sheet and the header image as a
// data URL).
//
// The operations only read model objects (in practice those of the consumer center's read
// context) and run on their caller's thread; they take no lock. The one piece of state is the
// header image, built on first use and read-only afterwards. The core's API object owns the one
// instance for its whole life.
#pragma once

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"

namespace libkestrun {

class UiUtility {
 public:
  virtual ~UiUtility() = default;

  // The e-mails that an answer of `sendType` (EmailSendType: 1 reply, 2 forward, 4 reply all)
  // answers. Candidates are the opened e-mails in the order the view shows them (`visibleIDs`),
  // else the opened ones in the item's order, else the item's newest e-mail (the greatest
  // CREATEDAT, the later of equal ones); of several candidates those not sent from
  // `accountAddress` are kept when there are any. One candidate answers every send type;
  // otherwise a reply answers the newest e-mail of each distinct sender, a forward the newest
  // candidate, a reply all the newest with at least two To and Cc recipients (else the first
  // candidate), and a new message (3) nothing. An e-mail without a sender counts as sent from ""
  // (the empty address). Empty for an empty item.
  std::vector<std::shared_ptr<KSEmail>> emails_to_reply_to(
      const std::shared_ptr<KSItem>& item, const std::string& accountAddress, int sendType,
      const std::vector<std::string>& visibleIDs, const std::unordered_set<std::string>& openedIDs) const;

  // The conversation's subject, its message count when above 1, and one row per e-mail (people
  // and the shown body). "" for an empty item.
  std::string print_conversation(const std::shared_ptr<KSItem>& item) const;
  // The e-mail's conversation subject (its own subject when the conversation is missing) and its
  // row with the full body when it has one. "" for an empty e-mail.
  std::string print_email(const std::shared_ptr<KSEmail>& email) const;

  // The PNG shown at the top of every printed page: 169 x 171 pixels, 8-bit RGBA, not interlaced.
  static const std::vector<unsigned char>& print_header_image();

 private:
  using Emails = std::vector<std::shared_ptr<KSEmail>>;

  // The newest candidate with at least `minRecipients` To and Cc recipients and, when `sender` is
  // given, sent from that address; the first of equal times; else the first candidate.
  static std::shared_ptr<KSEmail> choose_latest_email(const Emails& candidates, int minRecipients,
                                                      const std::string* sender);
  // The document head, the image, and the subject (escaped) with the count when above 1.
  static std::string print_header(const std::string& subject, int count);
  static std::string contact_row(const std::string& label,
                                 const std::vector<std::shared_ptr<KSContact>>& contacts);
  static std::string email_row(const std::shared_ptr<KSEmail>& email, bool fullBody);
};

}  // namespace libkestrun
