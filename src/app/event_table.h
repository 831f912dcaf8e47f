// An event table: which member function of an owner handles which event, and the dispatch
// that walks it. A table is a constant array built once; dispatch is a linear walk with no
// allocation, so it serves the frame timer too.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "platform/events.h"

namespace tonalis {

// One entry: events of one kind, and of those carrying an id (commands, timers, the
// program's notifications) the ones with `id`; an id of 0 takes them all. `invoke` returns
// true when the event is handled, false to go on to the system's default processing. A
// handler answers the system through the event's fields.
template <class Owner>
struct EventEntry {
  size_t kind = 0;
  uint32_t id = 0;
  bool (*invoke)(Owner& owner, Event& event) = nullptr;
};

namespace detail {
template <class T> struct MemberClass;
template <class C, class R, class... A> struct MemberClass<R (C::*)(A...)> { using type = C; };
template <auto Handler> using HandlerOwner = typename MemberClass<decltype(Handler)>::type;
}  // namespace detail

// An entry from a member function, for events of type E. Handler shapes:
//   void handler() / void handler(const E&)           -> handled
//   bool handler() / bool handler(E& or const E&)     -> the handler decides
//                                                        (false = default processing)
template <class E, auto Handler>
constexpr EventEntry<detail::HandlerOwner<Handler>> onEvent(uint32_t id = 0) {
  static_assert(eventKind<E> < std::variant_size_v<Event>, "not an Event alternative");
  using T = detail::HandlerOwner<Handler>;
  return {eventKind<E>, id, [](T& self, Event& e) -> bool {
            E& event = std::get<E>(e);
            if constexpr (requires { { (self.*Handler)(event) } -> std::same_as<bool>; }) {
              return (self.*Handler)(event);
            } else if constexpr (requires { (self.*Handler)(event); }) {
              (self.*Handler)(event);
              return true;
            } else if constexpr (requires { { (self.*Handler)() } -> std::same_as<bool>; }) {
              return (self.*Handler)();
            } else {
              (self.*Handler)();
              return true;
            }
          }};
}

template <auto Handler>
constexpr EventEntry<detail::HandlerOwner<Handler>> onCommand(uint32_t commandId) {
  return onEvent<Command, Handler>(commandId);
}

// Routes one event to the first entry of its kind and id. True when a handler took it;
// false (no entry, or the handler declined) means the system's default processing.
template <class Owner>
bool dispatchEvent(std::span<const EventEntry<Owner>> table, Owner& owner, Event& event) {
  const size_t kind = event.index();
  const uint32_t id = eventId(event);
  for (const EventEntry<Owner>& entry : table) {
    if (entry.kind == kind && (entry.id == 0 || entry.id == id)) return entry.invoke(owner, event);
  }
  return false;
}

}  // namespace tonalis
