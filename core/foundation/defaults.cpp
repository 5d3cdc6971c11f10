#include "core/foundation/defaults.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

#include "brelt/log.h"
#include "core/foundation/leveldb_store.h"

namespace libkestrun {

namespace {

constexpr char kLogTag[] = "Defaults";
const std::string kDatabaseName = "defaultsdb";
const std::string kEncryptionKeyKey = "kestrun.encryption.key";
const std::string kInitializedKey = "kestrun.defaults.has.been.initialized";

KvStore::Bytes bytes_of(const std::string& s) { return KvStore::Bytes(s.begin(), s.end()); }

}  // namespace

Defaults::Defaults(Unchecked, const std::string& path) { open(path); }

Defaults::Defaults(const std::shared_ptr<KvStore>& store) : store_(store) {}

Defaults::Defaults(const std::string& directory) {
  const std::string path = directory + "/" + kDatabaseName;
  {
    // Written through one open, closed, then read back through the next.
    Defaults probe(Unchecked{}, path);
    probe.set_json_t_and_release(kInitializedKey, json_true());
  }
  open(path);
  json_t* check = get_json_t(kInitializedKey);
  bool readable = check && json_is_true(check);
  json_decref(check);
  if (!readable) throw InaccessibleFsError("Unable to read Defaults");
}

bool Defaults::open(const std::string& path) {
  store_ = std::make_shared<LeveldbStore>(path);
  return true;
}

json_t* Defaults::get_json_t(const std::string& key) {
  std::optional<KvStore::Bytes> bytes = store_->get(key);
  if (!bytes) return nullptr;
  // Text ends at a NUL byte, as jansson reads it.
  std::string text(bytes->begin(), bytes->end());
  json_error_t error;
  return json_loads(text.c_str(), JSON_DECODE_ANY, &error);
}

jsonette::Json Defaults::get_json(const std::string& key) {
  bool found = false;
  std::string text = get_string(key, found);
  if (!found) return jsonette::Json();
  std::string error;
  jsonette::Json value = jsonette::Json::parse(text, error);
  return error.empty() ? value : jsonette::Json();
}

void Defaults::erase(const std::string& key) { store_->erase(key); }

void Defaults::set_json_t_and_release(const std::string& key, json_t* value) {
  set_json_t(key, value);
  json_decref(value);
}

void Defaults::set_json_t(const std::string& key, json_t* value) {
  char* text = json_dumps(value, JSON_ENCODE_ANY);
  if (!text) throw std::runtime_error("Unable to encode the value of " + key);
  std::string copy(text);
  std::free(text);
  store_->set(key, bytes_of(copy));
}

void Defaults::set_json(const std::string& key, const jsonette::Json& value) {
  set_string(key, value.dump());
}

std::string Defaults::get_string(const std::string& key, bool& found) {
  std::optional<KvStore::Bytes> bytes = store_->get(key);
  if (!bytes) return std::string();
  found = true;
  return std::string(bytes->begin(), bytes->end());
}

void Defaults::set_string(const std::string& key, const std::string& value) {
  store_->set(key, bytes_of(value));
}

std::string Defaults::get_encryption_key() {
  bool found = false;
  std::string key = get_string(kEncryptionKeyKey, found);
  if (found) return key;

  // The store verifies what it reads and repairs damage, so a stored key comes back as written
  // or not at all: a new key is made only when none is left. A database encrypted under a lost
  // key then no longer reads, and its check moves it aside.
  brelt::log_error(kLogTag, "no database key is stored; making a new one");
  std::random_device device("/dev/urandom");
  std::uniform_int_distribution<int> byte(0, 255);
  std::string fresh(kEncryptionKeySize, '\0');
  for (char& c : fresh) c = static_cast<char>(byte(device));
  set_string(kEncryptionKeyKey, fresh);
  // Without the key the database it encrypts is lost, so it must outlive a crash of the machine.
  store_->sync();

  // Hand out what the store gives back, so the key in use is always the stored one.
  found = false;
  key = get_string(kEncryptionKeyKey, found);
  if (!found) throw std::runtime_error("Unable to store the encryption key");
  return key;
}

void Defaults::read_bool(const std::string& key, bool& out) {
  jsonette::Json value = get_json(key);
  if (value.is_bool()) out = value.bool_value();
}

void Defaults::read_int(const std::string& key, int& out) {
  jsonette::Json value = get_json(key);
  if (!value.is_number()) return;
  using limits = std::numeric_limits<int>;
  if (value.is_integer()) {
    int64_t i = value.int64_value();
    out = static_cast<int>(std::clamp<int64_t>(i, limits::min(), limits::max()));
    return;
  }
  double d = value.number_value();
  if (std::isnan(d)) return;
  out = static_cast<int>(
      std::clamp(std::trunc(d), static_cast<double>(limits::min()), static_cast<double>(limits::max())));
}

}  // namespace libkestrun
