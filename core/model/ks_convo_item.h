// One row of a conversation as the conversation view lists it: an e-mail or a draft. An e-mail row
// keeps a snapshot of the e-mail's row taken when the row was made, beside the live object.
//
// Only what the conversation live queries need is here (building rows, their id, their time);
// the rest of the row's accessors join with the conversation view's work.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>

#include "core/model/ks_email.h"
#include "core/store/draft.h"
#include "core/store/email_record.h"

class KSConvoItem {
 public:
  static constexpr int kEmail = 0;
  static constexpr int kDraft = 1;

  explicit KSConvoItem(const libkestrun::internal::Draft& draft) : value_(draft) {}
  explicit KSConvoItem(std::shared_ptr<KSEmail> email)
      : email_(std::move(email)), value_(static_cast<const libkestrun::internal::Email&>(*email_)) {}

  int type() const { return value_.index() == 0 ? kEmail : kDraft; }
  // The e-mail id of an e-mail row, the draft id of a draft row.
  std::string convoItemId() const {
    if (const auto* draft = std::get_if<libkestrun::internal::Draft>(&value_)) return draft->get_draft_id();
    return std::get<libkestrun::internal::Email>(value_).get_EMAILID();
  }
  // CREATEDAT of an e-mail, the last modification of a draft.
  uint64_t modifiedAt() const {
    if (const auto* draft = std::get_if<libkestrun::internal::Draft>(&value_)) {
      return static_cast<uint64_t>(draft->get_modified_at());
    }
    return static_cast<uint64_t>(std::get<libkestrun::internal::Email>(value_).get_CREATEDAT());
  }

  // The id by which a live query matches conversation rows.
  struct GetId {
    std::string operator()(const KSConvoItem& row) const { return row.convoItemId(); }
  };

 private:
  std::shared_ptr<KSEmail> email_;
  std::variant<libkestrun::internal::Email, libkestrun::internal::Draft> value_;
};
