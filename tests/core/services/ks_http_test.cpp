#include "core/services/ks_http.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/foundation/task_manager.h"
#include "core/foundation/thread_pool.h"
#include "support/wait.h"

namespace KSHttp {
namespace {

using jsonette::Json;
using kestrun_test::wait_until;

// What one hook call was given.
struct HookCall {
  std::string url;
  std::string method;
  std::string params;  // JSON text of the jansson value
  int timeout = 0;
  int retries = 0;
  bool to_file = false;
  std::string file_path;
  std::string file_name;
};

std::string dump(json_t* value) {
  char* text = json_dumps(value, JSON_COMPACT | JSON_ENCODE_ANY | JSON_SORT_KEYS);
  std::string result = text ? text : "<null>";
  free(text);
  return result;
}

// The worker pool and hooks that answer a scripted status and record their calls.
class KSHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    libkestrun::thread_pool::start(2);
    Downloader::initialize([this](const std::string& url, const std::string& method, json_t* params,
                                  int timeout, int retries, ProgressFunction progress, bool to_file) {
      record({url, method, dump(params), timeout, retries, to_file, "", ""});
      if (progress) progress(7);
      Response response;
      response.status = status;
      return response;
    });
    Uploader::initialize([this](const std::string& url, const std::string& method, json_t* params,
                                const std::string& file_path, const std::string& file_name, int timeout,
                                int retries) {
      record({url, method, dump(params), timeout, retries, false, file_path, file_name});
      Response response;
      response.status = status;
      return response;
    });
  }
  void TearDown() override {
    libkestrun::thread_pool::stop();
    setDownloadFunction(nullptr);
    setUploadFunction(nullptr);
  }

  void record(HookCall call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(std::move(call));
  }

  std::vector<HookCall> recorded() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }

  int status = 200;
  std::mutex mutex;
  std::vector<HookCall> calls;
};

// Which callback a response reached.
struct Outcome {
  void set(const std::string& name, const Response& response) {
    std::lock_guard<std::mutex> lock(mutex);
    reached.push_back(name + ":" + std::to_string(response.status));
  }
  std::vector<std::string> get() {
    std::lock_guard<std::mutex> lock(mutex);
    return reached;
  }
  std::mutex mutex;
  std::vector<std::string> reached;
};

TEST_F(KSHttpTest, DownloadDispatchesByStatusAndByTheCallbacksThatAreSet) {
  struct Case {
    int status;
    bool success, failure, client_error;
    const char* reached;  // empty: no callback
  } cases[] = {
      {200, true, true, true, "success"},   {399, true, true, true, "failure"},
      {404, true, true, true, "client"},    {499, true, true, true, "client"},
      {500, true, true, true, "failure"},   {0, true, true, true, "failure"},
      {200, false, true, false, "failure"}, {404, false, true, false, "failure"},
      {499, false, true, false, "failure"}, {200, false, false, true, ""},
      {404, true, false, false, ""},        {500, true, false, true, ""},
      {399, false, false, false, ""},
  };
  for (const Case& c : cases) {
    status = c.status;
    Outcome outcome;
    auto callback = [&outcome](bool set, const char* name) -> ResponseCallback {
      if (!set) return nullptr;
      return [&outcome, name](Response response) { outcome.set(name, response); };
    };
    auto downloader =
        std::make_shared<Downloader>("https://host/x", 60000, 0, callback(c.success, "success"),
                                     callback(c.failure, "failure"), callback(c.client_error, "client"));
    downloader->get(Json::object{});
    ASSERT_TRUE(wait_until([&] { return !downloader->isDownloading(); }));
    std::vector<std::string> expected;
    if (*c.reached) expected.push_back(std::string(c.reached) + ":" + std::to_string(c.status));
    EXPECT_EQ(outcome.get(), expected) << c.status << " " << c.success << c.failure << c.client_error;
  }
}

TEST_F(KSHttpTest, DownloadsHandTheHookTheirMethodParamsAndSettings) {
  auto downloader = std::make_shared<Downloader>("https://host/file", 1234, 5);
  std::vector<int64_t> progress;
  downloader->setProgressCallback([&progress](int64_t bytes) { progress.push_back(bytes); });
  const Json params = Json::object{{"id", "a1"}, {"n", 3}};
  const struct {
    void (Downloader::*start)(const Json&);
    const char* method;
    bool to_file;
  } cases[] = {{&Downloader::get, "GET", false},
               {&Downloader::post, "POST", false},
               {&Downloader::getToFile, "GET", true},
               {&Downloader::postToFile, "POST", true}};
  for (const auto& c : cases) {
    ((*downloader).*c.start)(params);
    ASSERT_TRUE(wait_until([&] { return !downloader->isDownloading(); }));
  }
  downloader->get(Json());
  ASSERT_TRUE(wait_until([&] { return !downloader->isDownloading(); }));

  std::vector<HookCall> seen = recorded();
  ASSERT_EQ(seen.size(), 5u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(seen[i].url, "https://host/file");
    EXPECT_EQ(seen[i].method, cases[i].method);
    EXPECT_EQ(seen[i].to_file, cases[i].to_file);
    EXPECT_EQ(seen[i].params, R"({"id":"a1","n":3})");
    EXPECT_EQ(seen[i].timeout, 1234);
    EXPECT_EQ(seen[i].retries, 5);
  }
  EXPECT_EQ(seen[4].params, "null");  // a JSON null, not a missing value
  EXPECT_EQ(progress, std::vector<int64_t>(5, 7));
}

TEST_F(KSHttpTest, IsDownloadingFromTheStartUntilTheCallbackHasReturned) {
  std::promise<void> entered, leave;
  std::shared_future<void> may_leave = leave.get_future().share();
  Downloader::initialize(
      [&](const std::string&, const std::string&, json_t*, int, int, ProgressFunction, bool) {
        entered.set_value();
        may_leave.wait();
        return Response{};
      });
  std::promise<void> called;
  auto downloader = std::make_shared<Downloader>("https://host/x");
  downloader->setFailureCallback([&called](Response) { called.set_value(); });
  downloader->get(Json::object{});
  EXPECT_TRUE(downloader->isDownloading());
  entered.get_future().wait();
  EXPECT_TRUE(downloader->isDownloading());
  leave.set_value();
  called.get_future().wait();
  // The callback returned its signal while the transfer still held the mutex; the answer waits
  // for the transfer to finish.
  EXPECT_FALSE(downloader->isDownloading());
}

TEST_F(KSHttpTest, IsDownloadingUntilTheLastOfTwoOverlappingTransfersHasFinished) {
  // The hook holds each transfer until its own signal; params {"n": 0} and {"n": 1} tell them apart.
  std::promise<void> entered[2], leave[2];
  std::shared_future<void> may_leave[2] = {leave[0].get_future().share(), leave[1].get_future().share()};
  Downloader::initialize(
      [&](const std::string&, const std::string&, json_t* params, int, int, ProgressFunction, bool) {
        auto n = static_cast<size_t>(json_integer_value(json_object_get(params, "n")));
        entered[n].set_value();
        may_leave[n].wait();
        return Response{};
      });
  std::mutex mutex;
  int finished = 0;
  std::promise<void> first_finished;
  auto downloader = std::make_shared<Downloader>("https://host/x");
  downloader->setFailureCallback([&](Response) {
    std::lock_guard<std::mutex> lock(mutex);
    if (++finished == 1) first_finished.set_value();
  });
  downloader->get(Json::object{{"n", 0}});
  downloader->get(Json::object{{"n", 1}});
  entered[0].get_future().wait();
  entered[1].get_future().wait();
  leave[0].set_value();
  first_finished.get_future().wait();
  // Answered once the first transfer has let go of the downloader; the second is still held.
  EXPECT_TRUE(downloader->isDownloading());
  leave[1].set_value();
  ASSERT_TRUE(wait_until([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return finished == 2;
  }));
  EXPECT_TRUE(wait_until([&] { return !downloader->isDownloading(); }));
}

TEST_F(KSHttpTest, ATransferWithoutAnInstalledHookFails) {
  setDownloadFunction(nullptr);
  Outcome outcome;
  auto downloader = std::make_shared<Downloader>("https://host/x");
  downloader->setFailureCallback([&outcome](Response response) { outcome.set("failure", response); });
  downloader->get(Json::object{});
  ASSERT_TRUE(wait_until([&] { return !downloader->isDownloading(); }));
  EXPECT_EQ(outcome.get(), std::vector<std::string>{"failure:0"});
}

TEST_F(KSHttpTest, UploadsPostTheFileAndReachOnlySuccessOrFailure) {
  auto tasks = std::make_shared<libkestrun::LoggingTaskManager>();
  const struct {
    int status;
    const char* reached;
  } cases[] = {{200, "success:200"}, {404, "failure:404"}, {499, "failure:499"}, {503, "failure:503"}};
  for (const auto& c : cases) {
    status = c.status;
    Outcome outcome;
    {
      auto uploader = std::make_shared<Uploader>(
          "https://host/upload", tasks, 1000, 1, [&outcome](Response r) { outcome.set("success", r); },
          [&outcome](Response r) { outcome.set("failure", r); });
      EXPECT_TRUE(tasks->has_tasks());
      uploader->post(Json::object{{"k", "v"}}, "/tmp/trace", "sanity");
      ASSERT_TRUE(wait_until([&] { return !uploader->isUploading(); }));
    }
    // The uploader's task ends with it, once the worker has let go of it too.
    EXPECT_TRUE(wait_until([&] { return !tasks->has_tasks(); }));
    EXPECT_EQ(outcome.get(), std::vector<std::string>{c.reached});
  }
  for (const HookCall& call : recorded()) {
    EXPECT_EQ(call.method, "POST");
    EXPECT_EQ(call.params, R"({"k":"v"})");
    EXPECT_EQ(call.file_path, "/tmp/trace");
    EXPECT_EQ(call.file_name, "sanity");
    EXPECT_EQ(call.timeout, 1000);
    EXPECT_EQ(call.retries, 1);
  }
}

TEST_F(KSHttpTest, AnUploaderOutlivesItsOwnerUntilItsTransferHasFinished) {
  std::promise<void> leave;
  std::shared_future<void> may_leave = leave.get_future().share();
  Uploader::initialize(
      [&](const std::string&, const std::string&, json_t*, const std::string&, const std::string&, int, int) {
        may_leave.wait();
        Response response;
        response.status = 200;
        return response;
      });
  auto tasks = std::make_shared<libkestrun::LoggingTaskManager>();
  std::promise<void> called;
  auto uploader = std::make_shared<Uploader>("https://host/upload", tasks);
  uploader->setSuccessCallback([&called](Response) { called.set_value(); });
  uploader->post(Json::object{}, "/tmp/x", "x");
  uploader.reset();
  EXPECT_TRUE(tasks->has_tasks());
  leave.set_value();
  called.get_future().wait();
  EXPECT_TRUE(wait_until([&] { return !tasks->has_tasks(); }));
}

TEST(KSHttpListenersTest, NotifyCallsInOrderThenClearsEveryList) {
  Downloader downloader("https://host/x");
  std::vector<std::string> calls;
  auto listener = [&calls](std::string name) {
    return [&calls, name](json_t* value) { calls.push_back(name + ":" + dump(value)); };
  };
  downloader.addSuccessListener(nullptr);  // ignored
  downloader.addSuccessListener(listener("s1"));
  downloader.addSuccessListener([&](json_t*) {
    calls.push_back("s2");
    downloader.addSuccessListener(listener("late"));  // added while notifying: dropped too
  });
  downloader.addSuccessListener(listener("s3"));
  downloader.addFailureListener(listener("f"));
  downloader.addClientErrorListener(listener("c"));
  downloader.addProgressListener(listener("p"));

  json_t* value = json_integer(5);
  downloader.notifyProgress(value);
  downloader.notifyProgress(value);
  downloader.notifySuccess(value);
  EXPECT_EQ(calls, (std::vector<std::string>{"p:5", "p:5", "s1:5", "s2", "s3:5"}));

  calls.clear();
  downloader.notifySuccess(value);
  downloader.notifyFailure(value);
  downloader.notifyClientError(value);
  downloader.notifyProgress(value);
  EXPECT_TRUE(calls.empty());  // every list was emptied, the late listener included

  downloader.addFailureListener(listener("f"));
  downloader.addProgressListener(listener("p"));
  downloader.clearListeners();
  downloader.notifyFailure(value);
  downloader.notifyProgress(value);
  EXPECT_TRUE(calls.empty());
  json_decref(value);
}

}  // namespace
}  // namespace KSHttp
