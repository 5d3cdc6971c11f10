// A draft wrapped as a model object, so that draft writes travel a context's commit path and
// reach the conversation queries through the table "Draft". The wrapper is always new; its save
// writes or removes the draft and then tells the change set whether the version rule let the
// write through: recorded as inserted when written, as updated when refused, as deleted when
// removed.
#pragma once

#include <memory>
#include <string>

#include "core/model/kestrun_object.h"
#include "core/store/draft.h"

template <class T>
class GenericKestrunObject;

template <>
class GenericKestrunObject<libkestrun::internal::Draft> : public KestrunObject {
 public:
  // `fromServer` selects the server's version rule over the local one.
  GenericKestrunObject(KestrunContext* context, libkestrun::internal::Draft draft, bool fromServer);

  std::string id() const override { return draft_.get_draft_id(); }
  std::string tableName() const override { return libkestrun::internal::Draft::table_name; }
  // Drafts are applied by the draft code, never key by key.
  void setFromServerKey(const std::string&, json_t*) override {}
  void save() override;
  void clearChangedFields() override { clearChanged(draft_); }
  size_t changedColumnCount() const override { return countChanged(draft_); }

  const libkestrun::internal::Draft& draft() const { return draft_; }
  bool fromServer() const { return fromServer_; }

 private:
  libkestrun::internal::Draft draft_;
  bool fromServer_;
};

using DraftObject = GenericKestrunObject<libkestrun::internal::Draft>;
