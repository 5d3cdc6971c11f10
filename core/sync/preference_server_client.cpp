#include "core/sync/preference_server_client.h"

#include "brelt/uuid.h"

namespace libkestrun::internal {

void PreferenceServerClient::sendPreferences(const jsonette::Json& preferences) {
  server_->send("PREFERENCE_UPDATE", jsonette::Json::object{{"preferences", preferences}},
                brelt::generate_uuid_lower(), true);
}

}  // namespace libkestrun::internal
