// Named events and their listeners; portable (no system headers).
#include "gui/Event.h"

#include <cassert>
#include <set>
#include <vector>

struct EventListener::Impl {
  std::set<Event*> events;
};

struct Event::Impl {
  std::set<EventListener*> listeners;
  bool snapshotStale = true;
  // Replaced, never modified in place, so an outer raise keeps iterating its own copy
  // while a nested raise rebuilds it.
  std::shared_ptr<const std::vector<EventListener*>> snapshot;
  int dispatchDepth = 0;
  bool removedWhileDispatching = false;
  std::set<EventListener*> removed;
  bool destroyed = false;
  std::string name;

  void disconnect(EventListener* listener) {
    if (dispatchDepth > 0) {
      removedWhileDispatching = true;
      removed.insert(listener);
    }
    snapshotStale = true;
    listeners.erase(listener);
  }
};

EventListener::EventListener() : impl_(std::make_unique<Impl>()) {}

EventListener::~EventListener() {
  // The listener is going away: no onEventDetached for itself.
  for (Event* event : impl_->events) event->impl_->disconnect(this);
}

void EventListener::onEvent(const char*, const char*, EventArg, EventArg) {}

void EventListener::onEventDetached() {}

Event::Event(std::string name) : impl_(std::make_shared<Impl>()) {
  impl_->name = std::move(name);
}

Event::~Event() {
  impl_->destroyed = true;
  // Copy first: onEventDetached may destroy other listeners of this event.
  std::vector<EventListener*> listeners(impl_->listeners.begin(), impl_->listeners.end());
  for (EventListener* listener : listeners) {
    if (impl_->listeners.count(listener) == 0) continue;
    listener->impl_->events.erase(this);
    impl_->disconnect(listener);
    listener->onEventDetached();
  }
}

const std::string& Event::name() const { return impl_->name; }

void Event::connect(EventListener* listener) {
  assert(listener && "Event::connect needs a listener");
  if (!impl_->listeners.insert(listener).second) return;
  listener->impl_->events.insert(this);
  impl_->snapshotStale = true;
}

size_t Event::listenerCount() const { return impl_->listeners.size(); }

void Event::raise(const char* type, EventArg arg1, EventArg arg2) {
  std::shared_ptr<Impl> self = impl_;
  if (self->dispatchDepth++ == 0) {
    self->removedWhileDispatching = false;
    self->removed.clear();
  }
  if (self->snapshotStale || !self->snapshot) {
    self->snapshotStale = false;
    self->snapshot = std::make_shared<const std::vector<EventListener*>>(
        self->listeners.begin(), self->listeners.end());
  }
  std::shared_ptr<const std::vector<EventListener*>> snapshot = self->snapshot;
  // The name is copied: a listener may destroy this event while it runs.
  const std::string name = self->name;
  for (EventListener* listener : *snapshot) {
    if (self->destroyed) break;
    if (self->removedWhileDispatching && self->removed.count(listener) != 0) continue;
    listener->onEvent(name.c_str(), type, arg1, arg2);
  }
  --self->dispatchDepth;
}
