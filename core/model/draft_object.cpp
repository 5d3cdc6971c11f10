#include "core/model/draft_object.h"

#include <utility>

#include "core/model/kestrun_context.h"

DraftObject::GenericKestrunObject(KestrunContext* context, libkestrun::internal::Draft draft, bool fromServer)
    : KestrunObject(context, false), draft_(std::move(draft)), fromServer_(fromServer) {}

void DraftObject::save() {
  if (isDeleted()) {
    context()->remove(draft_);
    return;
  }
  const bool written = fromServer_ ? context()->save_from_server(draft_) : context()->save(draft_);
  setInserted(written);
  setUpdated(!written);
}
