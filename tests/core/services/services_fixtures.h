// What the mail-service tests share: a LevelDB directory that can be closed and opened again as a
// restart would, a recorder of the notifications a manager posts through a real centre, and an
// undo manager that records its opposite steps instead of queuing them on a data center.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/notification_center.h"
#include "core/services/undo_manager.h"
#include "support/temp_dir.h"

namespace kestrun_test {

class StoreDir {
 public:
  StoreDir() : store_(std::make_shared<libkestrun::LeveldbStore>(dir_.file("db"))) {}

  const std::shared_ptr<libkestrun::KvStore>& store() const { return store_; }
  // Closes the database and opens it again; whoever still holds the old store must let it go
  // first (LevelDB locks the directory).
  void reopen() {
    close();
    store_ = std::make_shared<libkestrun::LeveldbStore>(dir_.file("db"));
  }
  void close() { store_.reset(); }
  std::string dbPath() const { return dir_.file("db"); }
  const std::string& path() const { return dir_.path(); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  // The stored JSON text of `key`, or "absent".
  std::string stored(const std::string& key) {
    auto json = libkestrun::JsonKvStore(store_).get_json(key);
    return json ? json->dump() : "absent";
  }

 private:
  TempDir dir_;
  std::shared_ptr<libkestrun::KvStore> store_;
};

struct Posted {
  std::string name;
  jsonette::Json payload;
  bool operator==(const Posted& other) const = default;
};

inline void PrintTo(const Posted& posted, std::ostream* out) {
  *out << posted.name << " " << posted.payload.dump();
}

class PostRecorder {
 public:
  PostRecorder() : center_(std::make_shared<libkestrun::NotificationCenter>(thread_)) {
    center_->listen_all([this](const std::string& name, const jsonette::Json& payload) {
      std::lock_guard<std::mutex> lock(mutex_);
      posted_.push_back({name, payload});
    });
  }

  // Deliveries still queued run before the record goes away. Whoever posts must be gone first.
  ~PostRecorder() {
    thread_.post_sync([] {});
  }

  const std::shared_ptr<libkestrun::NotificationCenter>& center() const { return center_; }

  // What was posted since the last call; every post made before the call has been delivered.
  std::vector<Posted> take() {
    thread_.post_sync([] {});
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(posted_, {});
  }

 private:
  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_;
  std::mutex mutex_;
  std::vector<Posted> posted_;  // guarded by mutex_
};

// The opposite steps it was asked to start, in order; the data writer's own steps are tested
// with a data center (undo_manager_writer_test.cpp).
class RecordingUndoManager : public libkestrun::UndoManager {
 public:
  using UndoManager::UndoManager;

  std::vector<Step> started;  // written under the manager's mutex, read after the calls

 protected:
  void startOppositeStep(const Step& step) override { started.push_back(step); }
};

}  // namespace kestrun_test
