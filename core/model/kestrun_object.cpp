#include "core/model/kestrun_object.h"

#include <cstring>

#include "brelt/uuid.h"
#include "core/model/kestrun_context.h"

ManagedObject::ManagedObject(KestrunContext* context, bool loaded)
    : inserted_(!loaded), updated_(loaded), context_(context) {}

void ManagedObject::setDefaults() {
  inserted_ = false;
  updated_ = false;
  deleted_ = false;
}

void ManagedObject::setInserted(bool value) {
  inserted_ = value;
  if (value) {
    updated_ = false;
    deleted_ = false;
  }
}

void ManagedObject::setUpdated(bool value) {
  if (inserted_) return;
  updated_ = value;
  if (value) deleted_ = false;
}

void ManagedObject::setDeleted(bool value) {
  deleted_ = value;
  if (value) {
    inserted_ = false;
    updated_ = false;
  }
}

void KestrunObject::acknowledgeServerSave(json_t*) {}
void KestrunObject::finishServerDocument(json_t*) {}
bool KestrunObject::shouldApplyServerDocument(json_t*) { return true; }
std::string KestrunObject::idKey() const { return ""; }
json_t* KestrunObject::toJson() { return json_object(); }
json_t* KestrunObject::changesToJson(const std::unordered_set<std::string>&) { return json_object(); }

void KestrunObject::fieldChanged(const std::string&) {
  if (id().empty()) return;
  reportFirstChange(changedColumnCount());
}

void KestrunObject::reportFirstChange(size_t changed) {
  if (changed != 1 || context() == nullptr) return;
  // A row written while the object is being built, or on an object outside a shared pointer,
  // has nobody to report to yet.
  std::shared_ptr<KestrunObject> self = weak_from_this().lock();
  if (self) context()->objectChanged(self);
}

std::string KestrunObject::generateID() { return brelt::generate_uuid_upper(); }

bool KestrunObject::OrderOnId::operator()(const std::shared_ptr<KestrunObject>& a,
                                          const std::shared_ptr<KestrunObject>& b) const {
  const std::string x = a->id();
  const std::string y = b->id();
  // std::string compares char, which may be signed; ids compare as unsigned bytes.
  int c = std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()));
  if (c != 0) return c < 0;
  return x.size() < y.size();
}
