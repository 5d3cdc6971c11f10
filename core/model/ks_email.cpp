#include "core/model/ks_email.h"

#include "core/model/kestrun_context.h"

KSEmail::KSEmail(KestrunContext* context) : DBKestrunObject(context, false) {
  setDefaults();
  registerChangeListener();
}

KSEmail::KSEmail(KestrunContext* context, CppSQLite3Query& query)
    : DBKestrunObject(context, true), Email(query) {
  registerChangeListener();
}

KSEmail::KSEmail(KestrunContext* context, const libkestrun::internal::Email& record)
    : DBKestrunObject(context, false), Email(record) {
  clearChangedFields();
  registerChangeListener();
}

void KSEmail::registerChangeListener() {
  row.change_callback = [this] { reportFirstChange(changedColumnCount()); };
}

void KSEmail::setDefaults() {
  set_BADCONVO(false);
  set_CONVERSATIONISHTML(true);
  set_CREATEDAT(unsetTime);
  set_FULLBODYISHTML(true);
  set_HASATTACHMENTS(false);
  set_HASFULLBODY(false);
  set_PREVIEW("This message has no content.");
  set_READ(false);
  set_SENDSTATE(libkestrun::EmailSendState::None);
  set_SENT(false);
  set_STARRED(false);
  clearChangedFields();
}

void KSEmail::setFromServerKey(const std::string&, json_t*) {}

void KSEmail::save() {
  if (isInserted()) {
    context()->insertEmail(*this);
  } else if (isUpdated()) {
    context()->updateEmail(*this);
  } else if (isDeleted()) {
    context()->removeEmail(get_EMAILID());
  }
}
