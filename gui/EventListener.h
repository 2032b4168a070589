#pragma once
// Receiver side of the named-event model. UI thread only.
#include <cstdint>
#include <memory>

class Event;

// Argument word of an event: 32 bits on the product, wide enough for an address on every
// build (some events carry the address of a record).
using EventArg = std::uintptr_t;

class EventListener {
public:
  EventListener();
  virtual ~EventListener();
  EventListener(const EventListener&) = delete;
  EventListener& operator=(const EventListener&) = delete;

  virtual void onEvent(const char* eventName, const char* type, EventArg arg1, EventArg arg2);
  // Called when an event this listener was connected to is destroyed first.
  virtual void onEventDetached();

private:
  friend class Event;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
