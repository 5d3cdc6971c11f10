// The base of every model object: the three change flags that tell a context's commit whether to
// insert, update or remove the object's row, the owning context, and the operations through which
// a server document is applied and the object is written back.
//
// Flag states (at most one flag is set):
//   new (inserted)   built by the new-object constructor; a commit inserts the row.
//   loaded (updated) built from a stored row; a commit rewrites the row.
//   clean (none)     after a commit recorded the object.
//   changed (updated) a clean object reported its first changed column to its context.
//   deleted          the context deleted an object that is not new; a commit removes the row.
//                    A change reported afterwards turns it back into an update.
//
// Objects are always held by shared pointers (their change reporting hands the context a shared
// pointer to itself) and belong to the core thread; nothing here takes a lock. The context is not
// owned: contexts are process-wide and outlive their objects.
#pragma once

#include <jansson.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "core/model/model_classes.h"

class ManagedObject {
 public:
  ManagedObject(const ManagedObject&) = delete;
  ManagedObject& operator=(const ManagedObject&) = delete;
  virtual ~ManagedObject() = default;

  // ManagedObject clears the three flags. A concrete class gives its row the default column
  // values and clears the row's changed-column flags instead; its new-object constructor calls it.
  virtual void setDefaults();
  // The primary-key column.
  virtual std::string id() const = 0;
  // The table: "KSITEM", "KSEMAIL", "KSLIST", "KSACCOUNTLIST", "KSCONTACT", "KSAUTOSWIPE", "Draft".
  virtual std::string tableName() const = 0;
  // Applies one key of a server document (`value` is borrowed). Unknown keys and values of the
  // wrong JSON type are ignored.
  virtual void setFromServerKey(const std::string& key, json_t* value) = 0;
  // Writes the row through the context as the flags say: insert, else update, else remove.
  virtual void save() = 0;

  // setUpdated does nothing on a new object: it is inserted whatever changes before the commit.
  void setInserted(bool value);
  void setUpdated(bool value);
  void setDeleted(bool value);
  bool isInserted() const { return inserted_; }
  bool isUpdated() const { return updated_; }
  bool isDeleted() const { return deleted_; }

  KestrunContext* context() const { return context_; }

 protected:
  // `loaded` false: a new object (inserted); true: one read from a stored row (updated).
  ManagedObject(KestrunContext* context, bool loaded);

 private:
  bool inserted_;
  bool updated_;
  bool deleted_ = false;
  KestrunContext* const context_;
};

class KestrunObject : public ManagedObject, public std::enable_shared_from_this<KestrunObject> {
 public:
  // The time value that means "not set"; a saved time equal to it means the server never
  // confirmed the object.
  static constexpr int64_t unsetTime = 0;

  // Clears every changed-column flag of the row.
  virtual void clearChangedFields() = 0;
  // The server stored the object: drops what waits to be sent for it. Base: nothing.
  virtual void acknowledgeServerSave(json_t* document);
  // Runs after every key of a document was applied. Base: nothing.
  virtual void finishServerDocument(json_t* document);
  // Whether a persistent context applies the document to this object. Base: true.
  virtual bool shouldApplyServerDocument(json_t* document);
  // The document key of the id: "_id", "contactID" for contacts. Base: "".
  virtual std::string idKey() const;
  // The object as a server document, a new reference owned by the caller. Base: {}.
  virtual json_t* toJson();
  // The document of the named camel-case properties, a new reference. Base: {}.
  virtual json_t* changesToJson(const std::unordered_set<std::string>& properties);
  // How many columns of the row changed since creation, load or the last commit.
  virtual size_t changedColumnCount() const = 0;

  // The change report of a setter that stored a differing value (the property name is not
  // consulted): an object with an id joins its context's pending set on its first changed column.
  void fieldChanged(const std::string& property);

  // The upper-case text of a new version-4 UUID.
  static std::string generateID();

  // Byte-wise by id (unsigned bytes; on a common prefix the shorter first): the final tie-break
  // of every ordering of model objects.
  struct OrderOnId {
    bool operator()(const std::shared_ptr<KestrunObject>& a, const std::shared_ptr<KestrunObject>& b) const;
  };

 protected:
  using ManagedObject::ManagedObject;

  // Reports the object to its context when `changed` (the row's count of changed columns after a
  // store) is 1, whatever its id; an object that is not held by a shared pointer is not reported.
  void reportFirstChange(size_t changed);

  // The count and the clearing of a row record's changed-column flags.
  template <class Record>
  static size_t countChanged(const Record& record) {
    return static_cast<size_t>(
        std::count(record.row.changed_flags.begin(), record.row.changed_flags.end(), true));
  }
  template <class Record>
  static void clearChanged(Record& record) {
    record.row.changed_flags.fill(false);
  }
};

namespace libkestrun {

// The key by which a live query tells its elements apart: the object's id.
struct KestrunId {
  std::string operator()(const std::shared_ptr<KestrunObject>& object) const { return object->id(); }
};

}  // namespace libkestrun
