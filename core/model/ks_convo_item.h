// One row of a conversation as the conversation view shows it: an e-mail or a draft. An e-mail
// row carries the live e-mail and a snapshot of its columns taken when the row was made, so that
// the row's fields stay what the view was given while the e-mail changes.
//
// A plain value: copies share the e-mail object and copy the snapshot or draft.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "core/model/kestrun_object.h"
#include "core/store/draft.h"
#include "core/store/email_record.h"

class KSConvoItem {
 public:
  static constexpr int kEmail = 0;
  static constexpr int kDraft = 1;

  explicit KSConvoItem(const libkestrun::internal::Draft& draft);
  explicit KSConvoItem(std::shared_ptr<KSEmail> email);

  int type() const { return type_; }

  // The draft's fields, or the e-mail's as they were when the row was made.
  std::string convoItemId() const;
  // The draft's last change, or the e-mail's CREATEDAT.
  uint64_t modifiedAt() const;
  uint64_t createdAt() const;
  std::string subject() const;
  std::string conversation() const;

  // The accessors of one kind throw std::runtime_error on a row of the other kind.
  const libkestrun::internal::Draft& get_draft() const;
  const libkestrun::internal::Email& get_email() const;
  std::shared_ptr<KSEmail> get_shared_email() const;

  // The key by which a live query tells rows apart.
  struct GetId {
    std::string operator()(const KSConvoItem& item) const { return item.convoItemId(); }
  };
  // Conversation order: the time ascending, then the id byte by byte.
  struct ModifiedAtAsc {
    bool operator()(const KSConvoItem& a, const KSConvoItem& b) const;
  };

 private:
  int type_;
  std::shared_ptr<KSEmail> email_;
  std::variant<libkestrun::internal::Email, libkestrun::internal::Draft> value_;
};
