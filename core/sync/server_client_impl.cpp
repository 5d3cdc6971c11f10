#include "core/sync/server_client_impl.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "brelt/api_client.h"
#include "brelt/log.h"
#include "brelt/semaphore.h"
#include "brelt/uuid.h"
#include "core/accounts/account_status_manager.h"
#include "core/accounts/user_manager.h"
#include "core/data/data_center.h"
#include "core/foundation/json_conversion.h"
#include "core/services/offline_manager.h"
#include "core/services/sanity.h"
#include "core/services/sync_status_manager.h"
#include "core/store/draft.h"
#include "core/sync/auto_auth_connection.h"
#include "core/sync/draft_update.h"
#include "core/sync/ignore_sigpipe.h"

namespace libkestrun::internal {

using jsonette::Json;

const char* const kAppVersionWasNuked = "com.kestrun.app.version.was.nuked";

namespace {

const char* const kTag = "ServerClient";

// Messages from this size on are traced as one summary line.
constexpr size_t kTraceSummaryBytes = 1500;

std::string stringOf(const Json& value) { return value.is_string() ? value.string_value() : ""; }

// A reply's member as the account client reads it: null when missing or JSON null.
patch::JanssonPtr janssonOrNull(const Json& value) {
  return patch::JanssonPtr(value.is_null() ? nullptr : patch::jansson_from_json(value));
}

}  // namespace

ServerClientImpl::ServerClientImpl(brelt::UvThread& thread, ServerEnv env, DeviceType device_type,
                                   std::string app_id, std::string app_version,
                                   std::shared_ptr<NotificationCenter> center, std::shared_ptr<KvStore> store,
                                   Managers* managers, std::shared_ptr<PerfLogger> perf,
                                   ServerClientTimings timings)
    : thread_(thread),
      managers_(managers),
      center_(std::move(center)),
      store_(std::move(store)),
      timings_(std::move(timings)),
      perf_(std::move(perf)),
      command_client_([this](const Json& message) { write_message(message); }, store_) {
  if (thread_.is_current_thread()) throw std::logic_error("the server client is built off the core thread");
  brelt::Semaphore ready;
  thread_.post([&, env = std::move(env), app_id = std::move(app_id), app_version = std::move(app_version)] {
    run_socket_thread(env, device_type, app_id, app_version);
    ready.notify();
  });
  ready.wait();
}

ServerClientImpl::~ServerClientImpl() {
  thread_.post_sync([this] {
    *alive_ = false;
    if (client_) {
      client_->on_connect = nullptr;
      client_->on_end = nullptr;
      client_->on_data = nullptr;
      client_->on_read_error = nullptr;
      client_->on_write_error = nullptr;
      client_->disconnect();
    }
    client_.reset();
    if (trouble_timer_) trouble_timer_->stop();
    trouble_timer_.reset();
    // The snapshot client's timers and background connection live on this loop and it calls back
    // into this client: it goes with it.
    snapshot_server_client_set_instance(nullptr);
    snapshot_client_.reset();
    // The auto-swipe client's page completions run on this loop too: once its instance is
    // cleared this is its last owner, and it goes here rather than on the destroying thread.
    auto_swipe_client_.reset();
  });
}

void ServerClientImpl::run_socket_thread(const ServerEnv& env, DeviceType device_type,
                                         const std::string& app_id, const std::string& app_version) {
  ignore_sigpipe();

  brelt::ApiClient::Options options;
  options.version = app_version;
  options.device = deviceTypeToString(device_type);
  options.host = env.host;
  options.port = env.port;
  options.extra.assign(env.extra_bytes.begin(), env.extra_bytes.end());
  options.hmac_key.assign(env.signing_key.begin(), env.signing_key.end());

  auto factory = std::make_unique<AutoAuthConnectionFactory>(*managers_->userManager(), nullptr,
                                                             thread_.get_loop(), options);
  client_ = std::make_shared<brelt::AutoConnectApiClient>(thread_.get_loop(), std::move(factory),
                                                          timings_.connection);
  client_->on_connect = [this] {
    error_reported_ = false;
    handleSocketConnect();
  };
  client_->on_end = [this] {
    error_reported_ = false;
    handleSocketDisconnect();
  };
  client_->on_data = [this](Json message) { handleSocketMessage(std::move(message)); };
  client_->on_read_error = [this](brelt::Error error) { handleReadError(error); };
  client_->on_write_error = [this](brelt::Error error) { handleWriteError(error); };

  create_sub_clients(options, app_id, device_type);
  register_handlers();

  trouble_timer_ = std::make_unique<brelt::Timer>(thread_.get_loop(), timings_.trouble_ms, false,
                                                  [this] { postStatus(kSyncHavingTroubleConnecting); });
}

// The sub-clients, in this order: snapshot, account, auto-swipe, object, push, preference, cloud
// search, user. Each family's client joins here in its place, publishing its instance.
void ServerClientImpl::create_sub_clients(const brelt::ApiClient::Options& options, const std::string& app_id,
                                          DeviceType device_type) {
  SnapshotServerClientImpl::Neighbours neighbours;
  neighbours.users = managers_->userManager();
  neighbours.perf = perf_;
  neighbours.server = this;
  snapshot_client_ = std::make_shared<SnapshotServerClientImpl>(store_, std::move(neighbours), options,
                                                                thread_, timings_.snapshot);
  // Stored commands go out again once the drafts they may touch are in.
  snapshot_client_->user_snapshot_listeners.push_back([this] { command_client_.resendStoredMessages(); });
  snapshot_server_client_set_instance(snapshot_client_);
  account_client_ = std::make_shared<AccountServerClientImpl>(
      thread_, store_, managers_->accountManager(), managers_->userManager(), snapshot_client_.get(), this,
      timings_.account_request_timeout);
  account_client_->accountDeletedListeners.push_back([this](const std::string& account_id) {
    for (const auto& listener : account_deleted_listeners) listener(account_id);
  });
  account_server_client_set_instance(account_client_);
  auto_swipe_client_ = std::make_shared<AutoSwipeServerClientImpl>(this, &managers_->countsManager(),
                                                                   managers_->userManager());
  auto_swipe_server_client_set_instance(auto_swipe_client_);
  object_client_ = std::make_shared<KestrunObjectServerClientImpl>(this, managers_->prefManager());
  kestrun_object_server_client_set_instance(object_client_);
  push_client_ = std::make_unique<PushServerClient>(store_, static_cast<int32_t>(device_type), app_id, this);
  preference_client_ = std::make_unique<PreferenceServerClient>(this);
  cloud_search_client_ = std::make_unique<CloudSearchServerClient>(perf_);
  user_client_ = std::make_shared<UserServerClientImpl>(thread_, this, managers_->accountManager(),
                                                        managers_->prefManager(), timings_.user_requests,
                                                        timings_.user_retry_defer);
  user_server_client_set_instance(user_client_);
}

// The dispatch tables. Replies by "type"; notifications by "method". Replies of the methods the
// outgoing queue tracks need no line: they acknowledge their request (see dispatch).
void ServerClientImpl::register_handlers() {
  const ReplyHandler snapshot = [this](const IncomingMessage& incoming) {
    snapshot_client_->handleSnapshotResponse(incoming.id, incoming.result, incoming.error);
  };
  reply_handlers_["ACCOUNT_SNAPSHOT"] = snapshot;
  reply_handlers_["BACKGROUND_ACCOUNT_SNAPSHOT"] = snapshot;
  notification_handlers_["INITIAL_SYNC_DONE"] = [this](const Json& params) {
    snapshot_client_->handleInitialSyncDone(params);
  };
  reply_handlers_["SEARCH_QUERY"] = [this](const IncomingMessage& incoming) {
    patch::JanssonPtr message(patch::jansson_from_json(incoming.message));
    cloud_search_client_->handleSearchQueryResponse(message.get());
  };
  reply_handlers_["SEARCH_FETCH"] = [this](const IncomingMessage& incoming) {
    patch::JanssonPtr result(incoming.result.is_null() ? nullptr : patch::jansson_from_json(incoming.result));
    patch::JanssonPtr error(incoming.error.is_null() ? nullptr : patch::jansson_from_json(incoming.error));
    cloud_search_client_->handleSearchFetchResponse(result.get(), error.get());
  };
  reply_handlers_["AUTO_SWIPE_RULES_GET"] = [this](const IncomingMessage& incoming) {
    patch::JanssonPtr result(incoming.result.is_null() ? nullptr : patch::jansson_from_json(incoming.result));
    auto_swipe_client_->handleAutoSwipeGetResponse(incoming.id, result.get());
  };
  reply_handlers_["ACCOUNT_CREATE"] = [this](const IncomingMessage& incoming) {
    patch::JanssonPtr result = janssonOrNull(incoming.result), error = janssonOrNull(incoming.error);
    account_client_->handleAccountCreateResponse(incoming.id, result.get(), error.get());
  };
  reply_handlers_["ACCOUNT_ASSOCIATE"] = [this](const IncomingMessage& incoming) {
    patch::JanssonPtr result = janssonOrNull(incoming.result), error = janssonOrNull(incoming.error);
    account_client_->handleAccountAssociateResponse(incoming.id, result.get(), error.get());
  };
  reply_handlers_["ACCOUNT_UPDATE"] = [this](const IncomingMessage& incoming) {
    patch::JanssonPtr result = janssonOrNull(incoming.result), error = janssonOrNull(incoming.error);
    account_client_->handleAccountUpdateResponse(incoming.id, result.get(), error.get());
  };
  reply_handlers_["ACCOUNT_REMOVE"] = [this](const IncomingMessage& incoming) {
    patch::JanssonPtr result = janssonOrNull(incoming.result), error = janssonOrNull(incoming.error);
    account_client_->handleAccountRemoveResponse(incoming.id, result.get(), error.get());
  };
  reply_handlers_["USER_UNLINK"] = [this](const IncomingMessage& incoming) {
    user_client_->handleUnlinkResponse(incoming.id, incoming.result, incoming.error);
  };
  reply_handlers_["USER_LINK"] = [this](const IncomingMessage& incoming) {
    user_client_->handleLinkResponse(incoming.id, incoming.result, incoming.error);
  };
  reply_handlers_["USER_SET_AUTO_AUTH"] = [this](const IncomingMessage& incoming) {
    user_client_->handleSetAutoAuthResponse(incoming.id, incoming.result, incoming.error);
  };
  reply_handlers_["USER_NEW_DEVICE"] = [this](const IncomingMessage& incoming) {
    user_client_->handleNewDeviceResponse(incoming.id, incoming.result, incoming.error);
  };
  notification_handlers_["AUTH"] = [this](const Json& params) {
    patch::JanssonPtr converted(patch::jansson_from_json(params));
    account_client_->handleAuthNotification(converted.get());
  };
  notification_handlers_["USER_STATE"] = [this](const Json& params) {
    user_client_->handleUserState(params);
  };
  notification_handlers_["USER_UNAUTHORIZED"] = [this](const Json& params) {
    user_client_->handleUnauthorized(params);
  };
  notification_handlers_["DOCUMENT"] = [this](const Json& params) { handleDocumentNotification(params); };
  notification_handlers_["ACCOUNT_STATUS"] = [](const Json& params) {
    patch::JanssonPtr converted(patch::jansson_from_json(params));
    account_status_manager_process_account_status(converted.get());
  };
  notification_handlers_["NUKE"] = [this](const Json&) { handleNukeNotification(); };
  notification_handlers_["GENERIC_STATUS"] = [this](const Json& params) {
    handleGenericStatusNotification(params);
  };
}

// --- Connection ---

void ServerClientImpl::postStatus(const char* name) { sync_status_manager_post_status(name, -1, -1); }

void ServerClientImpl::connect() {
  perf_->startTiming(PERF_LOGGER_METRIC_CONNECTION_TIME);
  client_->connect_now();
  error_reported_ = false;
  if (client_->is_connecting()) postStatus(kSyncStartedConnecting);
}

void ServerClientImpl::connect_and_sync() {
  if (snapshot_client_->hasPendingBackgroundSync()) snapshot_client_->completeBackgroundSync(-2);
  if (!client_->is_connected()) {
    connect();
    return;
  }
  client_->connect_now();
  if (user_manager_device_is_registered()) {
    snapshot_client_->requestAllSnapshots();
    trouble_timer_->start();
  }
}

void ServerClientImpl::background_sync(std::function<void(BackgroundFetchResult)> done) {
  post([this, done = std::move(done)]() mutable {
    if (is_connected_or_connecting()) {
      done(-2);
      return;
    }
    snapshot_client_->requestBackgroundSnapshots(std::move(done));
  });
}

void ServerClientImpl::reset_last_snapshot_sync() { snapshot_client_->resetLastSnapshotSync(); }

bool ServerClientImpl::schedule_disconnect(unsigned ms) { return client_->idle_after(ms); }

void ServerClientImpl::disconnect() {
  trouble_timer_->stop();
  client_->disconnect();
}

bool ServerClientImpl::is_connected() { return client_->is_connected(); }

bool ServerClientImpl::is_connected_or_connecting() {
  const brelt::AutoConnectApiClient::State state = client_->state();
  return state == brelt::AutoConnectApiClient::State::Connected ||
         state == brelt::AutoConnectApiClient::State::Connecting;
}

void ServerClientImpl::stop_trouble_timer() { trouble_timer_->stop(); }

void ServerClientImpl::restart_dropping_held() {
  disconnect();
  client_->drop_held();
  connect();
}

void ServerClientImpl::cancel_all_commands() { command_client_.cancelAll(); }

void ServerClientImpl::handleSocketConnect() {
  perf_->stopTiming(PERF_LOGGER_METRIC_CONNECTION_TIME);
  if (user_manager_device_is_registered()) {
    snapshot_client_->requestAllSnapshots();
    trouble_timer_->start();
  }
  user_client_->handleConnected();
  for (const auto& listener : connected_listeners) listener();
}

void ServerClientImpl::handleSocketDisconnect() {
  postStatus(kSyncDidCloseConnection);
  sync_status_manager_reset();
  trouble_timer_->stop();
  snapshot_client_->completeBackgroundSync(-1);
  post([this] {
    guarded("the end of a connection", [this] {
      // The outstanding replies are lost with the connection; the next one asks again.
      snapshot_client_->resetSnapshotStates();
      streamable_accounts_.clear();
      pending_documents_.clear();
      command_client_.handleDisconnect();
    });
  });
}

void ServerClientImpl::handleReadError(const brelt::Error& error) {
  if (error_reported_) return;
  trouble_timer_->stop();
  error_reported_ = true;
  postStatus(error.code == brelt::ErrorCode::DnsError ? kSyncFailedConnecting : kSyncHavingTroubleConnecting);
}

void ServerClientImpl::handleWriteError(const brelt::Error& error) {
  // Writes that a failing or ending connection did not send are an account of its loss, not a
  // failure of their own (they come before the failure's own report); what must survive is
  // resent by the outgoing queue and the command store.
  if (error.tag == brelt::kNotSentTag || error_reported_) return;
  error_reported_ = true;
  postStatus(kSyncHavingTroubleConnecting);
}

// --- Sending ---

void ServerClientImpl::write_message(const Json& message) { client_->write(Json(message)); }

void ServerClientImpl::send(const std::string& method, const Json& params, const std::string& id,
                            bool write_now) {
  Json envelope = Json::object{{"method", method}, {"params", params}, {"id", id}};
  offline_manager_add_request(envelope);
  if (write_now) write_message(envelope);
}

void ServerClientImpl::send_document(const std::string& method, const Json& doc, const Json& extra,
                                     bool write_now) {
  Json::object params{{"doc", doc}};
  if (extra.is_object()) {
    for (const auto& [key, value] : extra.object_items()) params[key] = value;
  }
  // A change to an account whose snapshot is not in yet waits in the outgoing queue, which sends
  // it once the snapshot has been applied.
  const std::string account = stringOf(doc["acct_id"]);
  if (!account.empty() && streamable_accounts_.count(account) == 0) write_now = false;
  send(method, Json(std::move(params)), brelt::generate_uuid_lower(), write_now);
}

void ServerClientImpl::send_json(const Json& message) { write_message(message); }

void ServerClientImpl::send_command(std::unique_ptr<ServerCommand> command) {
  command_client_.sendCommand(std::move(command));
}

void ServerClientImpl::prime_search(const std::string& accountID) {
  cloud_search_client_->sendSearchPrime(accountID);
}
void ServerClientImpl::search_query(const std::string& accountID, const std::string& folder,
                                    const std::string& searchID, const std::string& text, int numAccounts) {
  cloud_search_client_->sendSearchQuery(accountID, folder, searchID, text, numAccounts);
}
void ServerClientImpl::search_fetch(const std::string& accountID, const std::string& searchID,
                                    const std::string& threadID, const std::string& syncData) {
  cloud_search_client_->sendSearchFetch(accountID, searchID, threadID, syncData);
}

// --- Forwarded to the sub-clients ---

void ServerClientImpl::update_device_token(const std::string& token) { push_client_->setDeviceToken(token); }

void ServerClientImpl::update_device_token_amazon(const std::string& token) {
  push_client_->setAmazonDeviceToken(token);
}

void ServerClientImpl::remove_email_account(const std::string& account_id, bool global,
                                            AccountRequestSuccess success, AccountRequestFailure failure) {
  account_client_->remove_email_account(account_id, global, std::move(success), std::move(failure));
}

// --- Receiving ---

void ServerClientImpl::post(std::function<void()> work) {
  thread_.post([alive = alive_, work = std::move(work)] {
    if (*alive) work();
  });
}

void ServerClientImpl::guarded(const char* what, const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& error) {
    brelt::log_error(kTag, std::string("failed during ") + what + ": " + error.what());
  }
}

void ServerClientImpl::handleSocketMessage(Json message) {
  IncomingMessage incoming;
  guarded("settling a command", [&] { incoming.command_reply = command_client_.handleResponse(message); });
  incoming.id = stringOf(message["id"]);
  incoming.type = stringOf(message["type"]);
  incoming.error = message["error"];
  incoming.result = message["result"];
  incoming.message = std::move(message);
  handleIncomingMessage(std::move(incoming));
}

void ServerClientImpl::handleIncomingMessage(IncomingMessage incoming) {
  post([this, incoming = std::move(incoming)] {
    guarded("the dispatch of a message", [&] { dispatch(incoming); });
  });
}

void ServerClientImpl::dispatch(const IncomingMessage& incoming) {
  const Json& code = incoming.error["code"];
  if (code.is_string() && code.string_value() != "H1" && code.string_value() != "S14") sanity::upload();

  const std::string text = incoming.message.dump();
  if (text.size() >= kTraceSummaryBytes) {
    sanity::log("Received message type: " + incoming.type + " size: " + std::to_string(text.size()) +
                "b id: " + incoming.id);
  } else {
    sanity::log_json("Received message", incoming.message);
  }

  if (incoming.type == "NOTIFICATION") {
    const std::string method = stringOf(incoming.message["method"]);
    if (!method.empty()) handleNotification(method, incoming.message["params"]);
    return;
  }
  auto handler = reply_handlers_.find(incoming.type);
  if (handler != reply_handlers_.end()) {
    handler->second(incoming);
  } else if (offline_manager_handles_method(incoming.type)) {
    if (incoming.error.is_null() && !incoming.id.empty()) offline_manager_acknowledge_request(incoming.id);
  } else if (!incoming.command_reply) {
    brelt::log_info(kTag, "unhandled message type \"" + incoming.type + "\"");
  }
}

void ServerClientImpl::handleNotification(const std::string& method, const Json& params) {
  auto handler = notification_handlers_.find(method);
  if (handler != notification_handlers_.end()) handler->second(params);
}

void ServerClientImpl::handleDocumentNotification(const Json& params) {
  const Json& doc = params["doc"];
  const Json& doc_type = params["doc_type"];
  if (!doc.is_object() || !doc_type.is_string()) return;
  const Json& account = doc["acct_id"];
  if (account.is_string()) {
    if (streamable_accounts_.count(account.string_value())) {
      processDocument(doc, doc_type.string_value());
    } else {
      pending_documents_[account.string_value()].push_back(params);
    }
    return;
  }
  // A document without an account is one of the user's drafts; drafts do not wait for snapshots.
  std::vector<DraftUpdate> updates;
  if (doc["removed"].is_bool() && doc["removed"].bool_value()) {
    updates.push_back(DraftUpdate::removal(stringOf(doc["_id"])));
  } else {
    std::optional<Draft> draft = Draft::from_json(doc);
    if (!draft) return;
    updates.emplace_back(*draft);
  }
  KestrunDataCenter::processServerBatch(std::move(updates), nullptr);
}

void ServerClientImpl::markAccountAsStreamable(const std::string& account_id) {
  post([this, account_id] {
    guarded("making an account streamable", [&] {
      streamable_accounts_.insert(account_id);
      auto held = pending_documents_.find(account_id);
      if (held == pending_documents_.end()) return;
      std::deque<Json> documents = std::move(held->second);
      pending_documents_.erase(held);
      for (const Json& params : documents) {
        if (params["doc"].is_object() && params["doc_type"].is_string())
          processDocument(params["doc"], params["doc_type"].string_value());
      }
    });
  });
}

void ServerClientImpl::processDocument(const Json& doc, const std::string& doc_type) {
  patch::JanssonPtr converted(patch::jansson_from_json(doc));
  auto done = [](std::vector<std::string>& results) {
    if (results.size() < 3) return;
    const int conversations = std::atoi(results[2].c_str());
    if (conversations > 0) sync_status_manager_post_status(kSyncReceivedNewMessages, conversations, -1);
  };
  // The data task may run after the client is gone (it is queued below the destructor's work).
  auto after = [this, alive = alive_, doc_type](std::vector<std::string>& results) {
    if (!*alive || results.size() < 3) return;
    for (const auto& listener : document_listeners) listener(results[0], doc_type);
  };
  KestrunDataCenter::processDocument(converted.get(), doc_type, done, after);
}

void ServerClientImpl::handleNukeNotification() {
  trouble_timer_->stop();
  client_->disconnect();
  center_->post_notification(kAppVersionWasNuked, Json());
}

void ServerClientImpl::handleGenericStatusNotification(const Json& params) {
  if (params["status"].is_string()) sync_status_manager_post_generic_message(params["status"].string_value());
}

}  // namespace libkestrun::internal
