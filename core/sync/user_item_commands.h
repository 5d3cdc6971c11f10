// The commands that carry a user's draft ("user item") to the server: a save of its current state
// and a removal. Both persist in the offline store until the server settles them, and a newer
// command of the same draft supersedes a stored one whose version clock is strictly older, so that
// after a reconnection only the latest change of each draft is sent again.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/store/draft.h"
#include "core/store/vector_clock.h"
#include "core/sync/server_command.h"
#include "jsonette/json.h"

namespace libkestrun {

// The user-item type of a draft.
inline constexpr int32_t kUserItemTypeDraft = 1;

// Shared by the save and the removal: the draft's identity, its version and the rule by which a
// newer command of the draft replaces a stored one.
class UserItemCommand : public ServerCommand {
 public:
  bool should_persist() const override { return true; }
  std::string object_id() const override { return draft_id_; }
  // True when (method, params) reads as a stored save or removal whose version is strictly older
  // than this command's; a message of another method or shape is never superseded.
  bool supersedes(const std::string& method, const jsonette::Json& params) const override;
  // A failed draft command leaves nothing behind but its stored copy, which is sent again later.
  void on_error(const jsonette::Json&) override {}
  void on_result(const jsonette::Json&) override {}

  const std::string& draft_id() const { return draft_id_; }
  const std::string& user_id() const { return user_id_; }
  const internal::VectorClock& version() const { return version_; }

 protected:
  UserItemCommand(std::string draft_id, std::string user_id, internal::VectorClock version)
      : draft_id_(std::move(draft_id)), user_id_(std::move(user_id)), version_(std::move(version)) {}

  // {"_id", "user_id", "version"}
  jsonette::Json::object identity_params() const;

 private:
  std::string draft_id_;
  std::string user_id_;
  internal::VectorClock version_;
};

// "USER_ITEM_SAVE": {"_id", "user_id", "version", "type", "data"}.
class UserItemSave : public UserItemCommand {
 public:
  // Type 1 (a draft), whatever the draft's send type, which travels in the data as "draft_type".
  explicit UserItemSave(const internal::Draft& draft);
  UserItemSave(std::string draft_id, std::string user_id, internal::VectorClock version, int32_t type,
               jsonette::Json data)
      : UserItemCommand(std::move(draft_id), std::move(user_id), std::move(version)),
        type_(type),
        data_(std::move(data)) {}

  std::string method() const override { return "USER_ITEM_SAVE"; }
  jsonette::Json params() const override;

  int32_t type() const { return type_; }
  const jsonette::Json& data() const { return data_; }

  // The draft's fields as the server stores them: item, times, subject, send type, names, content,
  // base and eventual e-mail ids and the full-body flag. Identity, version and plain text are not
  // part of it; absent item and base e-mail ids are null.
  static jsonette::Json draft_data(const internal::Draft& draft);

 private:
  int32_t type_;
  jsonette::Json data_;
};

// "USER_ITEM_REMOVE": {"_id", "user_id", "version"}.
class UserItemRemove : public UserItemCommand {
 public:
  explicit UserItemRemove(const internal::Draft& draft)
      : UserItemCommand(draft.get_draft_id(), draft.get_user_id(), draft.get_version()) {}
  UserItemRemove(std::string draft_id, std::string user_id, internal::VectorClock version)
      : UserItemCommand(std::move(draft_id), std::move(user_id), std::move(version)) {}

  std::string method() const override { return "USER_ITEM_REMOVE"; }
  jsonette::Json params() const override { return identity_params(); }
};

}  // namespace libkestrun
