#include "core/model/ks_convo_item.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "core/model/ks_email.h"

namespace {

libkestrun::internal::Email snapshot(const KSEmail& email) {
  libkestrun::internal::Email row(email);
  // The copy must not report to the live e-mail.
  row.row.change_callback = nullptr;
  return row;
}

}  // namespace

KSConvoItem::KSConvoItem(const libkestrun::internal::Draft& draft) : type_(kDraft), value_(draft) {}

KSConvoItem::KSConvoItem(std::shared_ptr<KSEmail> email)
    : type_(kEmail), email_(std::move(email)), value_(snapshot(*email_)) {}

std::string KSConvoItem::convoItemId() const {
  return type_ == kDraft ? get_draft().get_draft_id() : get_email().get_EMAILID();
}

uint64_t KSConvoItem::modifiedAt() const {
  return static_cast<uint64_t>(type_ == kDraft ? get_draft().get_modified_at() : get_email().get_CREATEDAT());
}

uint64_t KSConvoItem::createdAt() const {
  return static_cast<uint64_t>(type_ == kDraft ? get_draft().get_created_at() : get_email().get_CREATEDAT());
}

std::string KSConvoItem::subject() const {
  return type_ == kDraft ? get_draft().get_subject() : get_email().get_SUBJECT();
}

std::string KSConvoItem::conversation() const {
  return type_ == kDraft ? get_draft().get_content() : get_email().get_CONVERSATION();
}

const libkestrun::internal::Draft& KSConvoItem::get_draft() const {
  if (type_ != kDraft) throw std::runtime_error("Invalid type for object, get_draft");
  return std::get<libkestrun::internal::Draft>(value_);
}

const libkestrun::internal::Email& KSConvoItem::get_email() const {
  if (type_ != kEmail) throw std::runtime_error("Invalid type for object, get_email");
  return std::get<libkestrun::internal::Email>(value_);
}

std::shared_ptr<KSEmail> KSConvoItem::get_shared_email() const {
  if (type_ != kEmail) throw std::runtime_error("Invalid type for object, get_shared_email");
  return email_;
}

bool KSConvoItem::ModifiedAtAsc::operator()(const KSConvoItem& a, const KSConvoItem& b) const {
  const uint64_t x = a.modifiedAt();
  const uint64_t y = b.modifiedAt();
  if (x != y) return x < y;
  const std::string first = a.convoItemId();
  const std::string second = b.convoItemId();
  const int c = std::memcmp(first.data(), second.data(), std::min(first.size(), second.size()));
  if (c != 0) return c < 0;
  return first.size() < second.size();
}
