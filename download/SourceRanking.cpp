#include "download/SourceRanking.h"

#include <algorithm>

#include "download/RetrySchedule.h"

SourceRanking::SourceRanking(std::vector<std::string> hosts, int perHost) : perHost_(std::max(1, perHost)) {
  if (hosts.empty())
    hosts.emplace_back();
  for (std::string& host : hosts) {
    Source source;
    source.host = std::move(host);
    sources_.push_back(std::move(source));
  }
}

// The time since the last event counts for every connection running on each source.
void SourceRanking::advance(std::int64_t now) {
  if (now > lastAt_) {
    for (Source& s : sources_)
      s.busyMs += s.running * (now - lastAt_);
  }
  lastAt_ = std::max(lastAt_, now);
}

double SourceRanking::rate(const Source& s, std::int64_t now) const {
  const std::int64_t busy = s.busyMs + s.running * std::max<std::int64_t>(0, now - lastAt_);
  return busy > 0 ? static_cast<double>(s.received) / static_cast<double>(busy) : 0.0;
}

int SourceRanking::onHost(const std::string& host) const {
  int running = 0;
  for (const Source& s : sources_)
    if (s.host == host)
      running += s.running;
  return running;
}

int SourceRanking::ceilingOf(const std::string& host, std::int64_t now) const {
  for (const Ceiling& c : ceilings_)
    if (c.host == host && now < c.until)
      return c.most;
  return perHost_;
}

std::optional<int> SourceRanking::pick(std::int64_t now) const {
  std::optional<int> best;
  double bestRate = -1;
  for (int i = 0; i < count(); ++i) {
    const Source& s = sources_[i];
    if (s.state == State::kDropped || now < s.restUntil || onHost(s.host) >= ceilingOf(s.host, now))
      continue;
    if (s.state == State::kUntried) {
      // Its first answer decides whether it may take more: one request until then.
      if (s.running == 0)
        return i;
      continue;
    }
    const double r = rate(s, now);
    if (r > bestRate) {
      bestRate = r;
      best = i;
    }
  }
  return best;
}

double SourceRanking::share(int source, std::int64_t now) const {
  double best = 0;
  for (const Source& s : sources_)
    if (s.state == State::kTrusted)
      best = std::max(best, rate(s, now));
  const double own = rate(sources_[source], now);
  return best > 0 && own > 0 ? std::min(1.0, own / best) : 1.0;
}

int SourceRanking::hostsInUse() const {
  std::vector<std::string> hosts;
  for (const Source& s : sources_)
    if (s.state != State::kDropped && std::find(hosts.begin(), hosts.end(), s.host) == hosts.end())
      hosts.push_back(s.host);
  return std::max<int>(1, static_cast<int>(hosts.size()));
}

std::optional<std::int64_t> SourceRanking::nextAwake(std::int64_t now) const {
  std::optional<std::int64_t> soonest;
  for (const Source& s : sources_)
    if (s.state != State::kDropped && s.restUntil > now && (!soonest || s.restUntil < *soonest))
      soonest = s.restUntil;
  for (const Ceiling& c : ceilings_)
    if (c.until > now && (!soonest || c.until < *soonest))
      soonest = c.until;
  return soonest;
}

void SourceRanking::opened(int source, std::int64_t now) {
  advance(now);
  ++sources_[source].running;
}

void SourceRanking::closed(int source, std::int64_t now) {
  advance(now);
  sources_[source].running = std::max(0, sources_[source].running - 1);
}

void SourceRanking::received(int source, std::int64_t length, std::int64_t fresh, std::int64_t now) {
  advance(now);
  Source& s = sources_[source];
  s.received += length;
  s.fresh += fresh;
  s.failures = 0;
}

std::int64_t SourceRanking::rest(int source, std::int64_t now, double random) {
  Source& s = sources_[source];
  std::int64_t wait = RetrySchedule::kFirstDelayMs;
  for (int i = 0; i < s.failures && wait < RetrySchedule::kMaxDelayMs; ++i)
    wait *= 2;
  wait = std::min(wait, RetrySchedule::kMaxDelayMs);
  wait = static_cast<std::int64_t>(static_cast<double>(wait) * (1.0 + RetrySchedule::kJitter * (2 * random - 1)));
  ++s.failures;
  s.restUntil = now + wait;
  return wait;
}

void SourceRanking::limitHost(int source, int ceiling, std::int64_t until) {
  const std::string& host = sources_[source].host;
  ceilings_.erase(std::remove_if(ceilings_.begin(), ceilings_.end(), [&](const Ceiling& c) { return c.host == host; }),
                  ceilings_.end());
  ceilings_.push_back(Ceiling{host, std::max(1, ceiling), until});
}

std::vector<std::int64_t> SourceRanking::bytes() const {
  std::vector<std::int64_t> all;
  for (const Source& s : sources_)
    all.push_back(s.fresh);
  return all;
}

bool SourceRanking::fromMirrors() const {
  return std::any_of(sources_.begin() + 1, sources_.end(), [](const Source& s) { return s.fresh > 0; });
}
