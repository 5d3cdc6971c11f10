#include "core/foundation/event_source.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "jsonette/json.h"

namespace lks {
namespace {

struct changed {
  using listener = std::function<void(jsonette::Json)>;
};
struct linked {
  using listener = std::function<void(std::string, std::string)>;
};

class Source : public EventSource<changed, linked> {
 public:
  using EventSource::_notify;
};

TEST(EventSource, ListenersRunInRegistrationOrderEachWithItsOwnCopy) {
  Source source;
  std::vector<std::string> calls;
  source.listen<linked>([&](std::string a, std::string b) {
    calls.push_back("1:" + a + b);
    a += "-changed";  // must not reach the next listener
  });
  source.listen<linked>([&](std::string a, std::string b) { calls.push_back("2:" + a + b); });
  source.listen<changed>([&](jsonette::Json j) { calls.push_back("changed:" + j.dump()); });

  source._notify<linked>(std::string("x"), std::string("y"));
  // A map of values reaches a JSON listener as one object.
  source._notify<changed>(std::map<std::string, jsonette::Json>{{"k", 1}});
  EXPECT_EQ(calls, (std::vector<std::string>{"1:xy", "2:xy", "changed:{\"k\":1}"}));
}

}  // namespace
}  // namespace lks
