// The transfer engine over several copies of one package, against simulated servers on
// a simulated clock: a fast one, a dead one, one four times slower and one that serves
// another file of the same size. Whichever is announced, the file ends complete with the
// announced file's bytes at their places, most of them from the fast copy, nothing of
// the other file, and hardly later than from the fast copy alone.
#include "download/TransferEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>

namespace {

using Engine = TransferEngine;
using Kind = Engine::Command::Kind;

struct Server {
  std::string host;
  std::int64_t perMs;  // bytes per millisecond and connection; 0: refuses connections
  int version;         // which file it holds (its ETag names it)
  int limit = 0;       // connections it serves at once; more are answered 503 (0: any)
};

struct Request {
  int source;
  std::int64_t first, end, next;  // the body's bytes in the file, the next one
  bool answered = false;
};

struct Outcome {
  std::string broken;  // what went wrong, "" when every write was right
  Engine::End end = Engine::End::kDisk;
  std::int64_t elapsedMs = 0;
  std::vector<std::int64_t> bytes;  // the engine's count per source
  int mostOnOneHost = 0;
  std::vector<int> mostServed;  // per source, the most requests it served at once
};

Outcome run(const std::vector<Server>& servers, std::int64_t size) {
  Outcome out;
  Engine::Settings settings;
  settings.size = size;
  settings.md5 = "0123456789ABCDEF0123456789ABCDEF";
  settings.connections = 4;
  for (const Server& s : servers)
    settings.sources.push_back(s.host);
  Engine engine(settings);
  std::map<int, Request> requests;
  const Request* handing = nullptr;
  std::int64_t handed = 0;  // body bytes of `handing` before the chunk being written
  std::int64_t now = 0;
  out.mostServed.assign(servers.size(), 0);
  std::vector<std::pair<std::int64_t, std::int64_t>> written;
  bool ended = false;
  auto apply = [&](auto&& self, const Engine::Commands& commands) -> void {
    for (const Engine::Command& c : commands) {
      if (c.kind == Kind::kOpen) {
        const std::int64_t end = c.count > 0 ? c.offset + c.count : size;
        requests[c.request] = Request{c.source, c.offset, end, c.offset};
      } else if (c.kind == Kind::kClose) {
        requests.erase(c.request);
      } else if (c.kind == Kind::kWrite) {
        const std::int64_t from = handing->first + handed + c.skip;
        if (servers[handing->source].version != 1)
          out.broken = "bytes of another file were written at " + std::to_string(c.offset);
        else if (c.offset != from)
          out.broken = "body byte " + std::to_string(from) + " written at " + std::to_string(c.offset);
        written.emplace_back(c.offset, c.offset + c.count);
      } else if (c.kind == Kind::kFlush) {
        self(self, engine.flushed(true, "", now));
      } else if (c.kind == Kind::kSave || c.kind == Kind::kDropRecord) {
        self(self, engine.saved(true, "", now));
      } else if (c.kind == Kind::kExtend) {
        self(self, engine.extended(true, now));
      } else if (c.kind == Kind::kEnd) {
        ended = true;
        out.end = c.end;
      }
    }
  };
  apply(apply, engine.start(now));
  constexpr std::int64_t kStepMs = 10;
  while (!ended && now < 600000) {
    now += kStepMs;
    std::vector<int> ids, onHost(servers.size());
    for (const auto& [id, q] : requests) {
      ids.push_back(id);
      out.mostOnOneHost = std::max(out.mostOnOneHost, ++onHost[q.source]);
    }
    for (int id : ids) {
      auto found = requests.find(id);
      if (found == requests.end())
        continue;
      Request& q = found->second;
      const Server& s = servers[q.source];
      if (s.perMs == 0) {
        requests.erase(found);
        apply(apply, engine.ended(id, Engine::Ended::kUnreachable, "connection refused", now));
        continue;
      }
      if (!q.answered) {
        int serving = 0;
        for (const auto& [other, r] : requests)
          serving += r.source == q.source && r.answered;
        if (s.limit > 0 && serving >= s.limit) {
          Engine::Answer busy;
          busy.status = 503;
          busy.retryAfterMs = 1000;
          requests.erase(found);
          apply(apply, engine.answered(id, busy, now));
          continue;
        }
        q.answered = true;
        out.mostServed[q.source] = std::max(out.mostServed[q.source], serving + 1);
        Engine::Answer a;
        a.etag = "\"v" + std::to_string(s.version) + "\"";
        a.acceptRanges = true;
        a.status = q.first == 0 && q.end == size ? 200 : 206;
        a.contentLength = q.end - q.first;
        a.contentRange = "bytes " + std::to_string(q.first) + "-" + std::to_string(q.end - 1) + "/" + std::to_string(size);
        apply(apply, engine.answered(id, a, now));
        continue;
      }
      const std::int64_t n = std::min(s.perMs * kStepMs, q.end - q.next);
      handing = &q;
      handed = q.next - q.first;
      q.next += n;
      apply(apply, engine.data(id, n, now));
      if (requests.count(id) && requests[id].next >= requests[id].end) {
        requests.erase(id);
        apply(apply, engine.ended(id, Engine::Ended::kBodyEnded, "", now));
      }
    }
    if (const auto wake = engine.wakeAt(); wake && *wake <= now)
      apply(apply, engine.tick(now));
  }
  std::sort(written.begin(), written.end());
  std::int64_t covered = 0;
  for (const auto& [first, end] : written)
    if (first <= covered)
      covered = std::max(covered, end);
  if (out.broken.empty() && ended && out.end == Engine::End::kComplete && covered != size)
    out.broken = "the complete file has bytes " + std::to_string(covered) + " onwards missing";
  out.elapsedMs = now;
  out.bytes = engine.sources().bytes();
  return out;
}

TEST(TransferEngineSources, FastCopyCarriesTheFileAndTheOtherFileNeverMixesIn) {
  const std::int64_t size = 96ll << 20;
  const Server fast{"fast.example", 4000, 1}, dead{"dead.example", 0, 1}, slow{"slow.example", 1000, 1},
      other{"other.example", 4000, 2};
  // Alone, the fast copy takes this long at its four connections.
  const Outcome alone = run({fast}, size);
  ASSERT_EQ(alone.end, Engine::End::kComplete);
  struct Case {
    const char* what;
    std::vector<Server> servers;
    int fastIndex;
  } cases[] = {
      {"the fast copy announced", {fast, dead, slow, other}, 0},
      // Without the announced file's ETag another file of the same size cannot be told
      // apart before the digest: that case is the digest's.
      {"the announced host dead", {dead, slow, fast}, 2},
      {"the slow copy announced", {slow, other, dead, fast}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome o = run(c.servers, size);
    EXPECT_EQ(o.broken, "");
    ASSERT_EQ(o.end, Engine::End::kComplete);
    EXPECT_EQ(std::accumulate(o.bytes.begin(), o.bytes.end(), std::int64_t{0}), size);
    EXPECT_LE(o.mostOnOneHost, 4);
    EXPECT_GT(o.bytes[c.fastIndex], size * 2 / 3);
    EXPECT_LE(o.elapsedMs, alone.elapsedMs * 6 / 5);
  }
}

// A copy that answers 503 beyond two connections lowers its own host's ceiling only: the
// other copy still gets its four.
TEST(TransferEngineSources, BusyAnswersLowerOnlyTheirHostsCeiling) {
  Server limited{"limited.example", 4000, 1};
  limited.limit = 2;
  const Outcome o = run({limited, {"other.example", 2000, 1}}, 96ll << 20);
  EXPECT_EQ(o.broken, "");
  ASSERT_EQ(o.end, Engine::End::kComplete);
  EXPECT_EQ(o.mostServed[0], 2);
  EXPECT_EQ(o.mostServed[1], 4);
}

} // namespace
