// The command store: server commands kept in the core's key-value store until the server has
// settled them, so that they survive a lost connection and a restart of the program.
//
// Keys, with the scope name S (the server command client uses "offline_messages"):
//   S!messages!<message id>      {"object_id", "message_data": the request as written, "seq"}
//   S!object_to_mid!<object id>  array of the ids of the object's stored messages, oldest first
// "seq" numbers the records in the order they were first stored; `get_items` returns the records
// in that order, so commands of one object are resent in the order they were sent (ids are
// random, their order says nothing). Storing a message again under an id already stored keeps its
// number and its place in the index.
//
// Damage reads as absence: a missing, unparsable or non-array index entry is empty, and a missing
// or unparsable record is skipped. Failures of the store itself reach the caller as the store
// throws them.
//
// Threads: one thread at a time (the core thread). No lock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/foundation/json_kv_store.h"
#include "core/foundation/kv_store.h"
#include "jsonette/json.h"

namespace libkestrun {

// One stored message as read back.
struct OfflineItem {
  std::string object_id;
  std::string message_id;
  jsonette::Json message_data;  // {"id", "method", "params"}
};

class OfflineScope {
 public:
  // Opens the scope `name` over `store` and reads the highest sequence number stored in it.
  OfflineScope(const std::string& name, const std::shared_ptr<KvStore>& store);

  // Stores `message` under `message_id` for `object_id`, listing the id in the object's index
  // unless it is there already.
  void add_item(const std::string& object_id, const std::string& message_id, const jsonette::Json& message);
  // Forgets the message and every mention of it in its object's index (the index entry goes when
  // it is left empty). An unknown id does nothing.
  void remove_item(const std::string& message_id);
  // The object's stored messages in index order.
  std::vector<OfflineItem> get_items_for_object(const std::string& object_id);
  // Every stored message, in the order in which they were first stored.
  std::vector<OfflineItem> get_items();

 private:
  jsonette::Json::array index_of(const std::string& object_id);
  std::optional<jsonette::Json> record_of(const std::string& message_id);

  JsonKvStore object_index_;
  JsonKvStore messages_;
  int64_t last_sequence_ = 0;
};

}  // namespace libkestrun
