// Raise semantics of named events: snapshot, removal while raising, detach notices.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/Event.h"

namespace {

using Log = std::vector<std::string>;

// Logs "tag event type arg1 arg2" for each call, then runs its action, and "tag detached"
// for each detach notice.
class Recorder : public EventListener {
public:
  Recorder(std::string tag, Log& log) : tag(std::move(tag)), log_(log) {}
  void onEvent(const char* eventName, const char* type, EventArg a1, EventArg a2) override {
    log_.push_back(tag + " " + eventName + " " + type + " " + std::to_string(a1) + " " + std::to_string(a2));
    if (action) action();
  }
  void onEventDetached() override { log_.push_back(tag + " detached"); }
  const std::string tag;
  std::function<void()> action;

private:
  Log& log_;
};

// Three listeners of `event`, which calls its listeners in address order: sorted by
// address, so the order is known.
struct Listeners {
  Listeners(Log& log, Event& event) {
    for (int i = 0; i < 3; ++i)
      slots.emplace_back(std::make_unique<Recorder>(std::string(1, char('a' + i)), log));
    std::sort(slots.begin(), slots.end(),
              [](const auto& x, const auto& y) { return x.get() < y.get(); });
    for (auto& r : slots) event.connect(r.get());
  }
  std::vector<std::unique_ptr<Recorder>> slots;
};

} // namespace

// Connected twice, a listener is called once; one connected while raising is first
// called by the next raise.
TEST(EventTest, DeliversNameTypeAndArgumentsOnceToEachListener) {
  Log log;
  Event event("InstallManager");
  Recorder a("a", log), late("late", log);
  event.connect(&a);
  event.connect(&a);
  a.action = [&] { event.connect(&late); };
  event.raise("EVENT_INSTALL_COMPLETE", 7, 0xFFFFFFFFu);
  EXPECT_EQ(log, Log{"a InstallManager EVENT_INSTALL_COMPLETE 7 4294967295"});
  a.action = nullptr;
  log.clear();
  event.raise("t");
  std::sort(log.begin(), log.end());
  EXPECT_EQ(log, (Log{"a InstallManager t 0 0", "late InstallManager t 0 0"}));
}

TEST(EventTest, ListenerDestroyedByAnotherIsNotCalledLaterInTheSameRaise) {
  Log log;
  Event event("e");
  Listeners l(log, event);
  const Log kept{l.slots[0]->tag + " e t 0 0", l.slots[1]->tag + " e t 0 0"};
  // The first listener (lowest address) destroys the last one.
  l.slots[0]->action = [&] { l.slots[2].reset(); };
  event.raise("t");
  EXPECT_EQ(log, kept);
  EXPECT_EQ(event.listenerCount(), 2u);
}

TEST(EventTest, DestroyingTheEventDetachesListenersButDestroyingAListenerDoesNot) {
  Log log;
  auto event = std::make_unique<Event>("e");
  auto other = std::make_unique<Event>("other");
  Recorder a("a", log);
  auto b = std::make_unique<Recorder>("b", log);
  event->connect(&a);
  event->connect(b.get());
  other->connect(&a);
  b.reset();  // its own destructor: no detach notice, and it is gone from the event
  EXPECT_EQ(event->listenerCount(), 1u);
  event.reset();
  other->raise("still");
  other.reset();
  EXPECT_EQ(log, (Log{"a detached", "a other still 0 0", "a detached"}));
}

TEST(EventTest, EventDestroyedByItsOwnListenerEndsTheRaise) {
  Log log;
  auto event = std::make_unique<Event>("e");
  Listeners l(log, *event);
  l.slots[0]->action = [&] { event.reset(); };
  event->raise("t");
  EXPECT_EQ(log, (Log{l.slots[0]->tag + " e t 0 0", l.slots[0]->tag + " detached", l.slots[1]->tag + " detached",
                      l.slots[2]->tag + " detached"}));
}

TEST(EventTest, NestedRaiseKeepsTheOuterRaiseConsistent) {
  Log log;
  Event event("e");
  Listeners l(log, event);
  Recorder extra("x", log);
  int depth = 0;
  // The middle listener connects a listener and raises again once; the outer raise must
  // carry on over its own snapshot, and the listener removed in the nested raise stays
  // removed for the outer one.
  l.slots[1]->action = [&] {
    if (depth++ > 0) return;
    event.connect(&extra);
    l.slots[0]->action = [&] { l.slots[2].reset(); };
    event.raise("inner");
  };
  event.raise("outer");
  // outer: s0, s1 -> inner: s0 (destroys s2), s1 (no-op), x ; outer continues: s2 gone.
  ASSERT_EQ(log.size(), 5u);
  for (size_t i = 0; i < log.size(); ++i)
    EXPECT_NE(log[i].find(i < 2 ? " outer " : " inner "), std::string::npos) << log[i];
  EXPECT_EQ(event.listenerCount(), 3u);
}
