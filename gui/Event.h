#pragma once
// A named event source raising (type, arg1, arg2) to its listeners, synchronously.
// UI thread only.
#include <memory>
#include <string>

#include "gui/EventListener.h"

// Listeners are called in address order from a snapshot of the listener set, so a
// listener connected while raising is first called by the next raise and one destroyed
// while raising is not called any more. An event may be destroyed by one of its own
// listeners; the raise then ends after that listener.
class Event {
public:
  explicit Event(std::string name);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  const std::string& name() const;
  void connect(EventListener* listener);
  void raise(const char* type, EventArg arg1 = 0, EventArg arg2 = 0);
  size_t listenerCount() const;

private:
  friend class EventListener;
  struct Impl;
  // Shared with a running raise, which keeps it alive if the event is destroyed meanwhile.
  std::shared_ptr<Impl> impl_;
};
