// The base of the model objects that belong to one mail account and are kept in step with the
// server (items, e-mails, account lists): the account and synchronisation columns, the acceptance
// rule for server documents, the acknowledgement of a server save, the reading of the sync data,
// and the JSON envelope that every document of these objects starts with.
#pragma once

#include <memory>
#include <string>

#include "core/foundation/notification_center.h"
#include "core/model/kestrun_object.h"

class DBKestrunObject : public KestrunObject {
 public:
  // Posted (payload: the document's "_id") when a document of an account that is not
  // authenticated on this device is refused.
  static const char* const kBadDataNotification;

  // DBKestrunObject sets no defaults.
  void setDefaults() override;
  // Accepts a document that names an authenticated account (as "acct_id") and either finds the
  // object never confirmed by the server or carries a newer "saved_at".
  bool shouldApplyServerDocument(json_t* document) override;
  // A document with a "saved_at" confirms the request queued under the object's id when it
  // carries what that request set; the request is then dropped from the outgoing queue. A newer
  // change still waiting to be sent stays queued.
  void acknowledgeServerSave(json_t* document) override;
  // Reads the sync data and marks the object loaded once.
  void finishServerDocument(json_t* document) override;
  // The envelope alone; the classes add their keys.
  json_t* toJson() override;
  // The envelope alone; the classes add one key per property named.
  json_t* changesToJson(const std::unordered_set<std::string>& properties) override;

  virtual const std::string& accountID() const = 0;
  virtual int64_t savedAt() const = 0;
  virtual void setSyncData(std::string text) = 0;
  virtual const std::string& syncData() const = 0;
  virtual bool loadedOnce() const = 0;
  virtual void setLoadedOnce(bool value) = 0;

  // Stores a "sync_data" object of the document as compact text; any other value, or none,
  // leaves the stored text as it is.
  void readSyncData(json_t* document);

  // The center through which the bad-data notification is posted; set once at start-up, before
  // any document is applied (an empty pointer clears it).
  static void setNotificationCenter(std::shared_ptr<libkestrun::NotificationCenter> center);

 protected:
  using KestrunObject::KestrunObject;

  // A new JSON object: "_id", "acct_id" and, when the sync text parses and is not "-",
  // "sync_data"; the start of every document of these objects.
  json_t* envelope();
};
