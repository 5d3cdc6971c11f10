// Typed events that a class announces to listeners registered in code. Each event tag type names
// its listener's signature as the nested type `listener`. Listeners are added while the core is
// being built, before any event fires, so there is no lock; they are called on the announcing
// thread, in registration order, and cannot be removed.
#pragma once

#include <cstddef>
#include <list>
#include <tuple>
#include <type_traits>
#include <utility>

namespace lks {

namespace detail {
// Position of Tag in Tags.
template <class Tag, class... Tags>
constexpr size_t index_of() {
  static_assert((std::is_same_v<Tag, Tags> || ...), "not an event of this source");
  constexpr bool matches[] = {std::is_same_v<Tag, Tags>...};
  size_t i = 0;
  while (!matches[i]) ++i;
  return i;
}
}  // namespace detail

template <class... Tags>
class EventSource {
 public:
  template <class Tag>
  void listen(typename Tag::listener fn) {
    std::get<detail::index_of<Tag, Tags...>()>(listeners_).push_back(std::move(fn));
  }

 protected:
  // Each listener receives its own copy of the arguments, converted to its parameter types.
  template <class Tag, class... Args>
  void _notify(Args... args) {
    for (const auto& fn : std::get<detail::index_of<Tag, Tags...>()>(listeners_)) fn(args...);
  }

 private:
  std::tuple<std::list<typename Tags::listener>...> listeners_;
};

}  // namespace lks
