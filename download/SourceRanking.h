#pragma once
// Which copy of the package the next request goes to. Source 0 is the address the update
// server announced, the others are the publisher's mirrors in their configured order.
// A source is tried once (one request at a time until it answers), trusted once its
// first answer agreed with the announced file, and from then on chosen by the bytes it
// gave per connection and second; a failing one rests, a disagreeing one is dropped.
// Hosts are polite limits: sources on one host share its connection ceiling.
// Portable and single-threaded, like the engine that owns it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class SourceRanking {
public:
  // `hosts`: one per source, source 0 first; empty means the announced address alone.
  // `perHost`: the connections one host may take at once.
  SourceRanking(std::vector<std::string> hosts, int perHost);

  int count() const { return static_cast<int>(sources_.size()); }
  bool several() const { return sources_.size() > 1; }
  const std::string& host(int source) const { return sources_[source].host; }

  // Where a new request goes at `now`: an untried source first (in order), else the
  // trusted one with the best rate per connection whose host has room; nothing while
  // every one rests, waits for its first answer, or is full.
  std::optional<int> pick(std::int64_t now) const;
  // Its rate per connection against the best trusted one's, in (0, 1]; 1 while unknown.
  double share(int source, std::int64_t now) const;
  // Hosts with a source not dropped: each may take the per-host connections.
  int hostsInUse() const;
  // When a resting source may be asked again; nothing when none rests.
  std::optional<std::int64_t> nextAwake(std::int64_t now) const;

  void opened(int source, std::int64_t now);
  void closed(int source, std::int64_t now);
  // `length` bytes arrived from `source`, `fresh` of them new to the file.
  void received(int source, std::int64_t length, std::int64_t fresh, std::int64_t now);
  // Its first answer showed the announced file.
  void agreed(int source) { if (sources_[source].state == State::kUntried) sources_[source].state = State::kTrusted; }
  void drop(int source) { sources_[source].state = State::kDropped; }
  bool trusted(int source) const { return sources_[source].state == State::kTrusted; }
  bool dropped(int source) const { return sources_[source].state == State::kDropped; }
  // A failure or a stall: the source rests, longer each time in a row (`random` in
  // [0, 1) varies the wait). Returns the wait.
  std::int64_t rest(int source, std::int64_t now, double random);
  // The host refused a connection for load: it gets no more than `ceiling` until `until`.
  void limitHost(int source, int ceiling, std::int64_t until);

  // Bytes each source added to the file, in source order.
  std::vector<std::int64_t> bytes() const;
  // Some of the file's bytes came from a mirror.
  bool fromMirrors() const;

private:
  enum class State { kUntried, kTrusted, kDropped };
  struct Source {
    std::string host;
    State state = State::kUntried;
    int running = 0;
    std::int64_t received = 0;
    std::int64_t fresh = 0;
    std::int64_t busyMs = 0;  // connection-milliseconds spent on it
    std::int64_t restUntil = 0;
    int failures = 0;  // in a row, without a byte since
  };
  void advance(std::int64_t now);
  int onHost(const std::string& host) const;
  int ceilingOf(const std::string& host, std::int64_t now) const;
  double rate(const Source& s, std::int64_t now) const;

  std::vector<Source> sources_;
  int perHost_;
  std::int64_t lastAt_ = 0;
  struct Ceiling {
    std::string host;
    int most;
    std::int64_t until;
  };
  std::vector<Ceiling> ceilings_;
};
