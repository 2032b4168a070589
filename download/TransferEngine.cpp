// The transfer engine. Sections: 1. set-up and events  2. answers  3. ranges and
// requests  4. failures and restarts  5. the ramp  6. the record and the end.
#include "download/TransferEngine.h"

#include <algorithm>
#include <cassert>
#ifdef QX_TEST_HOOKS
#include <cstdlib>
#endif

#include "download/TransferText.h"

namespace {

bool etagLike(const std::string& validator) {
  return !validator.empty() && (validator[0] == '"' || validator.compare(0, 2, "W/") == 0);
}

// A weak ETag may not go into If-Range: the server would send everything every time.
std::string validatorOf(const TransferEngine::Answer& answer) {
  if (!answer.etag.empty() && answer.etag.compare(0, 2, "W/") != 0)
    return answer.etag;
  return answer.lastModified;
}

// The answer names another version than `ours` (compared like for like: an answer that
// does not say does not disagree).
bool otherVersion(const std::string& ours, const TransferEngine::Answer& answer) {
  if (ours.empty())
    return false;
  const std::string& theirs = etagLike(ours) ? answer.etag : answer.lastModified;
  return !theirs.empty() && theirs != ours;
}

// How long a request may stay silent before it is given up.
std::int64_t stallMs() {
#ifdef QX_TEST_HOOKS
  // A test build may shorten it, so that a scenario that waits one out ends sooner.
  static const char* const shorter = std::getenv("QX_TEST_STALL_MS");
  if (shorter) return std::strtoll(shorter, nullptr, 10);
#endif
  return TransferEngine::kStallMs;
}

} // namespace

// ---- 1. set-up and events ----------------------------------------------------------

TransferEngine::TransferEngine(Settings settings)
    : settings_(std::move(settings)),
      random_(settings_.seed * 0x9E3779B97F4A7C15ull + 1),
      schedule_([this] { return now_; }, [this] { return nextRandom(); }),
      // Another copy is only comparable with the size the server announced.
      sources_(settings_.size > 0 ? settings_.sources : std::vector<std::string>(),
               std::clamp(settings_.connections, 1, kMaxConnections)) {
  settings_.connections = std::clamp(settings_.connections, 1, kMaxConnections);
  known_ = settings_.size > 0;
  size_ = known_ ? settings_.size : SegmentMap::kUnknownSize;
  map_ = settings_.onDisk.size() == size_ ? settings_.onDisk : settings_.onDisk.resized(size_);
  recorded_ = map_;
  validator_ = settings_.validator;
  ceiling_ = settings_.connections;
}

TransferEngine::Commands TransferEngine::start(std::int64_t now) {
  now_ = now;
  lastRecordAt_ = now;
  schedule_.progressed();
  if (complete()) {
    finish(End::kComplete, std::string());
    return take();
  }
  Connection first;
  first.id = nextConnection_++;
  connections_.push_back(first);
  open(connections_.back());
  return take();
}

TransferEngine::Commands TransferEngine::data(int request, std::int64_t length, std::int64_t now) {
  now_ = now;
  Connection* c = find(request);
  if (!c || !c->answered || length <= 0 || over_ || ending_)
    return take();
  if (!c->gotByte) {
    c->gotByte = true;
    if (c->added && ramp_ == Ramp::kConnecting && --waitingFirstBytes_ <= 0) {
      ramp_ = Ramp::kMeasuring;
      windowStart_ = now_;
      windowBytes_ = 0;
      windowNewBytes_ = 0;
    }
  }
  c->lastByteAt = now_;
  c->quiet = false;
  if (flowSince_ < 0)
    flowSince_ = now_;
  flowBytes_ += length;
  windowBytes_ += length;
  if (c->id >= stepFirstId_)
    windowNewBytes_ += length;
  std::int64_t written = 0;
  bool done = false;
  if (c->whole) {
    // The body is the file from byte 0: only its missing bytes are written, and the
    // bytes already on disk stay (they count as nothing new).
    const std::int64_t first = c->bodyAt;
    const std::int64_t end = std::min(first + length, size_);
    std::int64_t at = first;
    for (const Range& held : map_.ranges()) {
      if (at >= end)
        break;
      if (held.end <= at)
        continue;
      if (held.first > at) {
        const std::int64_t until = std::min(held.first, end);
        out_.push_back(write(at - first, at, until - at));
        written += until - at;
      }
      at = std::max(at, held.end);
    }
    if (at < end) {
      out_.push_back(write(at - first, at, end - at));
      written += end - at;
    }
    for (const Command& command : out_)
      if (command.kind == Command::Kind::kWrite)
        map_.add(command.offset, command.offset + command.count);
    c->bodyAt = first + length;
    c->position = std::max(c->position, std::min(c->bodyAt, size_));
    done = known_ && c->bodyAt >= size_;
  } else {
    // A body never runs past its claim (which may have been shortened since it was
    // asked for): the rest is another connection's, or beyond the file.
    const std::int64_t count = std::min(length, c->claim.end - c->position);
    if (count > 0) {
      out_.push_back(write(0, c->position, count));
      map_.add(c->position, c->position + count);
      c->position += count;
      written = count;
    }
    done = c->position >= c->claim.end;
  }
  sources_.received(c->source, length, written, now_);
  if (written > 0)
    progressed();
  if (done) {
    closeRequest(*c);
    requestDone(*c);
  }
  if (!ending_ && !over_) {
    rampStep();
    record(false);
  }
  return take();
}

TransferEngine::Commands TransferEngine::ended(int request, Ended how, const std::string& text, std::int64_t now) {
  now_ = now;
  Connection* c = find(request);
  if (!c || over_ || ending_)
    return take();
  leaveSource(*c);
  c->request = 0;
  if (how != Ended::kBodyEnded) {
    failed(*c, how, -1, false, text);
    return take();
  }
  if (!known_) {
    // Without an announced size or Content-Length, the end of the body tells the size.
    size_ = c->whole ? c->bodyAt : c->position;
    known_ = true;
    map_ = map_.resized(size_);
    dirty_ = true;
    if (complete()) {
      finish(End::kComplete, std::string());
      return take();
    }
  }
  if (c->position >= c->claim.end || complete()) {
    requestDone(*c);
  } else {
    failed(*c, Ended::kTransient, -1, false,
           "the connection closed " + std::to_string(c->claim.end - c->position) + " bytes before the end of the body");
  }
  return take();
}

TransferEngine::Commands TransferEngine::writeFailed(const std::string& text, std::int64_t now) {
  now_ = now;
  finish(End::kDisk, text);
  return take();
}

TransferEngine::Commands TransferEngine::extended(bool ok, std::int64_t now) {
  now_ = now;
  extending_ = false;
  if (!ok || over_ || ending_ || rangesIgnored_)
    return take();  // a file that cannot take its size stays on one connection
  fileExtended_ = true;
  beginSeveral();
  return take();
}

TransferEngine::Commands TransferEngine::tick(std::int64_t now) {
  now_ = now;
  if (over_ || ending_)
    return take();
  if (ceilingUntil_ != 0 && now_ >= ceilingUntil_) {
    // The server that refused a connection is asked again, as politely as at the start.
    ceilingUntil_ = 0;
    ceiling_ = settings_.connections;
    if (ramp_ == Ramp::kSettled)
      remeasure();
  }
  if (rampAgainAt_ != 0 && now_ >= rampAgainAt_) {
    rampAgainAt_ = 0;
    if (ramp_ == Ramp::kSettled)
      remeasure();
  }
  for (std::size_t i = 0; i < connections_.size() && !over_ && !ending_; ++i) {
    Connection& c = connections_[i];
    if (c.state == Connection::State::kRunning) {
      if (now_ - c.lastByteAt >= stallMs()) {
        note(Note::Kind::kStalled, c,
             "connection " + std::to_string(c.id) + " stalled: no byte for " + std::to_string(stallMs() / 1000) + " s");
        closeRequest(c);
        failed(c, Ended::kTransient, -1, false, "no byte came for " + std::to_string(stallMs() / 1000) + " seconds");
      } else if (now_ - c.lastByteAt >= kQuietMs && !c.quiet) {
        c.quiet = true;
        checkQuiet();
      }
    } else if (c.state == Connection::State::kWaiting && !holdForRecord_ && now_ >= c.startAt) {
      open(c);
    }
  }
  if (!over_ && !ending_) {
    rampStep();
    record(false);
  }
  return take();
}

std::optional<std::int64_t> TransferEngine::wakeAt() const {
  if (over_)
    return std::nullopt;
  std::optional<std::int64_t> soonest;
  auto consider = [&](std::int64_t at) {
    if (!soonest || at < *soonest)
      soonest = at;
  };
  for (const Connection& c : connections_) {
    if (c.state == Connection::State::kRunning)
      consider(c.lastByteAt + (c.quiet ? stallMs() : kQuietMs));
    else if (c.state == Connection::State::kWaiting && !holdForRecord_)
      consider(c.startAt);
  }
  if (ceilingUntil_ != 0)
    consider(ceilingUntil_);
  if (rampAgainAt_ != 0)
    consider(rampAgainAt_);
  if (dirty_ && persist_ == Persist::kIdle && !ending_)
    consider(lastRecordAt_ + kRecordEveryMs);
  if (ramp_ == Ramp::kMeasuring)
    consider(secondLook_                                             ? secondLookAt_
             : !careful_ && now_ < windowStart_ + kShortestWindowMs ? windowStart_ + kShortestWindowMs
                                                                     : windowStart_ + kLongestWindowMs);
  return soonest;
}

std::int64_t TransferEngine::total() const { return known_ ? size_ : 0; }

int TransferEngine::running() const {
  return static_cast<int>(std::count_if(connections_.begin(), connections_.end(), [](const Connection& c) {
    return c.state == Connection::State::kRunning;
  }));
}

int TransferEngine::active() const {
  return static_cast<int>(std::count_if(connections_.begin(), connections_.end(), [](const Connection& c) {
    return c.state != Connection::State::kGone;
  }));
}

TransferEngine::Connection* TransferEngine::find(int request) {
  if (request == 0)
    return nullptr;
  for (Connection& c : connections_)
    if (c.state == Connection::State::kRunning && c.request == request)
      return &c;
  return nullptr;
}

TransferEngine::Commands TransferEngine::take() {
  Commands commands;
  commands.swap(out_);
  return commands;
}

TransferEngine::Command TransferEngine::write(std::int64_t skip, std::int64_t offset, std::int64_t count) const {
  Command command{Command::Kind::kWrite};
  command.skip = skip;
  command.offset = offset;
  command.count = count;
  return command;
}

bool TransferEngine::complete() const { return known_ && (size_ == 0 || map_.complete()); }

void TransferEngine::progressed() {
  schedule_.progressed();
  reconnecting_ = false;
  dirty_ = true;
  Command report{Command::Kind::kReport};
  report.status = 1;
  out_.push_back(report);
}

// The receiver reads "reconnecting" while no connection receives anything.
void TransferEngine::checkQuiet() {
  for (const Connection& c : connections_)
    if (c.state == Connection::State::kRunning && !c.quiet)
      return;
  if (reconnecting_)
    return;
  reconnecting_ = true;
  Command report{Command::Kind::kReport};
  report.status = 4;
  out_.push_back(report);
}

// ---- 2. answers ----------------------------------------------------------------------

TransferEngine::Commands TransferEngine::answered(int request, const Answer& answer, std::int64_t now) {
  now_ = now;
  Connection* found = find(request);
  if (!found || found->answered || over_ || ending_)
    return take();
  Connection& c = *found;
  c.answered = true;
  c.lastByteAt = now_;
  const std::string status = "HTTP status " + std::to_string(answer.status);
  if (sources_.several() && (answer.status == 200 || answer.status == 206) && !sources_.trusted(c.source)) {
    // The announced address is the reference; its own answer is checked below.
    const std::string why = c.source == 0 ? std::string() : mirrorDisagrees(c, answer);
    if (!why.empty()) {
      dropSource(c, why);
      return take();
    }
    sources_.agreed(c.source);
    if (c.source != 0)
      note(Note::Kind::kSource, c, "source " + sources_.host(c.source) + " agrees with the announced file");
  }
  if (answer.status == 206 && c.ranged) {
    ContentRange range;
    std::int64_t last = c.askedEnd > 0 ? c.askedEnd - 1 : -1;
    const bool told = parseContentRange(answer.contentRange, range);
    if (told && range.total >= 0)
      last = last < 0 ? range.total - 1 : std::min(last, range.total - 1);
    if (!told || range.first != c.position || (last >= 0 && range.last != last)) {
      // Another part than the one asked for would be stitched in at the wrong place.
      failed(c, Ended::kFinal, -1, false, status + " with another range");
    } else if (known_ && range.total >= 0 && range.total != size_) {
      failed(c, Ended::kFinal, -1, false, status + " of a file of " + std::to_string(range.total) + " bytes");
    } else if (otherVersion(validator_, answer)) {
      restartFromZero(answer);
    } else {
      // The version is the announced address's to name; a mirror only agrees with it.
      if (c.source == 0 && validator_.empty() && !validatorOf(answer).empty()) {
        validator_ = validatorOf(answer);
        dirty_ = true;
      }
      if (!known_ && range.total > 0) {
        known_ = true;
        size_ = range.total;
        map_ = map_.resized(size_);
        c.claim.end = std::min(c.claim.end, size_);
      }
      mayGoSeveral();
    }
  } else if (answer.status == 200) {
    if (known_ ? answer.contentLength != size_ : c.ranged && answer.contentLength < 0) {
      // Not the package: a portal's or a proxy's page, or another file. Nothing of it
      // reaches the disk, and the bytes on disk stay for a later run.
      failed(c, Ended::kFinal, -1, false,
             status + " of " + std::to_string(answer.contentLength) + " bytes" +
                 (c.ranged ? " for a range request" : ""));
    } else if (otherVersion(validator_, answer) && map_.onDisk() > 0) {
      restartFromZero(answer);
    } else {
      if (c.source == 0 &&
          (otherVersion(validator_, answer) || (validator_.empty() && !validatorOf(answer).empty()))) {
        validator_ = validatorOf(answer);
        dirty_ = true;
      }
      if (!known_ && answer.contentLength >= 0) {
        known_ = true;
        size_ = answer.contentLength;
        map_ = map_.resized(size_);
      }
      if (c.ranged || rangesIgnored_) {
        // The whole file from its first byte, though bytes are on disk: they are kept,
        // and only the missing ones are written.
        c.whole = true;
        c.bodyAt = 0;
        c.claim.end = size_;
        ignoreRanges(c);
      } else {
        // Nothing is on disk: this is the first request, for everything.
        c.claim.end = std::min(c.claim.end, size_);
        if (answer.acceptRanges)
          mayGoSeveral();
      }
      if (known_ && size_ == 0) {
        closeRequest(c);
        finish(End::kComplete, std::string());
      }
    }
  } else if (answer.status == 416 && !known_ && c.ranged && unsatisfiedSize(answer.contentRange) == c.position &&
             map_.resized(c.position).complete()) {
    // A body of untold length cut after its last byte: the retry asks from the file's
    // end, and the server names that end as the size. Everything before it is on disk.
    size_ = c.position;
    known_ = true;
    map_ = map_.resized(size_);
    dirty_ = true;
    closeRequest(c);
    finish(End::kComplete, std::string());
  } else {
    const bool transient = RetrySchedule::transientStatus(answer.status);
    failed(c, transient ? Ended::kTransient : Ended::kFinal, answer.retryAfterMs,
           answer.status == 429 || answer.status == 503, status);
  }
  return take();
}

// The server sends the whole file to range requests: one connection reads it from its
// first byte from now on, writing only what is missing.
void TransferEngine::ignoreRanges(Connection& keep) {
  rangesIgnored_ = true;
  several_ = false;
  ramp_ = Ramp::kOff;
  wanted_ = 1;
  for (Connection& other : connections_) {
    if (&other == &keep || other.state == Connection::State::kGone)
      continue;
    if (other.state == Connection::State::kRunning)
      closeRequest(other);
    other.state = Connection::State::kGone;
  }
}

// ---- 3. ranges and requests ----------------------------------------------------------------

// The bytes other connections fetch or will after a wait.
std::vector<TransferEngine::Range> TransferEngine::busy(const Connection* except) const {
  std::vector<Range> ranges;
  for (const Connection& c : connections_)
    if (&c != except && c.state != Connection::State::kGone && c.position < c.claim.end)
      ranges.push_back(Range{c.position, c.claim.end});
  return ranges;
}

// Shorter as less is missing: at the end the digest has to catch up with whatever the
// other connections wrote past the prefix, and that is a few segments.
std::int64_t TransferEngine::segmentLength() const {
  return std::clamp<std::int64_t>((size_ - map_.onDisk()) / (4ll * settings_.connections), kSmallestSegment,
                                  kLargestSegment);
}

std::optional<TransferEngine::Range> TransferEngine::nextClaim(const Connection& c) {
  if (severalOn() && wanted_ > 1) {
    if (auto claim = map_.nextClaim(busy(&c), segmentLength()))
      return claim;
    return split();
  }
  const std::optional<Range> gap = map_.nextClaim(busy(&c), SegmentMap::kUnknownSize);
  if (gap && known_ && !rangesIgnored_ && gap->length() > kLargestAnswer)
    return Range{gap->first, gap->first + kPiece};
  return gap;
}

// When nothing is left to claim: the back half of the largest range a running request
// still fetches; that request stops where the half begins.
std::optional<TransferEngine::Range> TransferEngine::split() {
  // Over several copies the range that would end last goes, and a slower copy keeps only
  // its share of it: the new request is expected on the best one.
  Connection* largest = nullptr;
  std::int64_t most = 2 * kSmallestSplit;
  double longest = 0;
  for (Connection& c : connections_) {
    const std::int64_t left = c.claim.end - c.position;
    if (c.state != Connection::State::kRunning || c.whole || left < 2 * kSmallestSplit)
      continue;
    const double time = static_cast<double>(left) / sources_.share(c.source, now_);
    if (sources_.several() ? time > longest : left >= most) {
      largest = &c;
      most = left;
      longest = time;
    }
  }
  if (!largest)
    return std::nullopt;
  const double share = sources_.share(largest->source, now_);
  const std::int64_t end = largest->claim.end;
  largest->claim.end =
      largest->position + (sources_.several() ? static_cast<std::int64_t>(static_cast<double>(most) * share / (share + 1))
                                              : most / 2);
  return Range{largest->claim.end, end};
}

void TransferEngine::open(Connection& c) {
  std::optional<Range> claim = nextClaim(c);
  if (!claim) {
    c.state = Connection::State::kGone;
    if (complete())
      finish(End::kComplete, std::string());
    return;
  }
  c.source = 0;
  if (sources_.several()) {
    const std::optional<int> source = sources_.pick(now_);
    if (!source) {
      // Every copy rests, is full or still owes its first answer: the bytes wait.
      c.state = Connection::State::kWaiting;
      c.claim = *claim;
      c.position = claim->first;
      c.startAt = sources_.nextAwake(now_).value_or(now_ + RetrySchedule::kFirstDelayMs);
      return;
    }
    c.source = *source;
    if (severalOn() && wanted_ > 1) {
      // A slower copy takes a shorter segment, so the last bytes never wait for it.
      const auto length = static_cast<std::int64_t>(static_cast<double>(claim->length()) * sources_.share(c.source, now_));
      if (length < claim->length())
        claim->end = claim->first + std::max(std::min(kSmallestSplit, claim->length()), length);
    }
  }
  sources_.opened(c.source, now_);
  c.onSource = true;
  c.state = Connection::State::kRunning;
  c.request = nextRequest_++;
  c.claim = *claim;
  c.position = claim->first;
  c.bodyAt = 0;
  c.whole = false;
  c.answered = false;
  c.gotByte = false;
  c.quiet = false;
  c.lastByteAt = now_;
  Command command{Command::Kind::kOpen};
  command.request = c.request;
  command.connection = c.id;
  command.source = c.source;
  // A server known to ignore ranges is asked for the whole file; so is a file of which
  // nothing is on disk.
  c.ranged = !rangesIgnored_ && (claim->first > 0 || (known_ && claim->end < size_));
  c.askedEnd = known_ && claim->end < size_ ? claim->end : -1;
  if (c.ranged) {
    command.headers = c.askedEnd > 0 ? rangeHeader(claim->first, claim->end - 1) : rangeHeader(claim->first);
    // Only the version these bytes belong to may continue them; another answers 200.
    if (!validator_.empty())
      command.headers += "If-Range: " + validator_ + "\r\n";
  }
  command.offset = claim->first;
  command.count = c.askedEnd > 0 ? claim->length() : -1;
  out_.push_back(command);
}

void TransferEngine::closeRequest(Connection& c) {
  if (c.state != Connection::State::kRunning || c.request == 0)
    return;
  Command command{Command::Kind::kClose};
  command.request = c.request;
  out_.push_back(command);
  c.request = 0;
  leaveSource(c);
}

void TransferEngine::leaveSource(Connection& c) {
  if (c.onSource)
    sources_.closed(c.source, now_);
  c.onSource = false;
}

// `c` fetched all of its claim: its next one, or it goes.
void TransferEngine::requestDone(Connection& c) {
  c.request = 0;
  if (complete()) {
    finish(End::kComplete, std::string());
    return;
  }
  if (severalOn() && active() > wanted_) {
    c.state = Connection::State::kGone;
    return;
  }
  open(c);
}

// ---- 4. failures and restarts -----------------------------------------------------------------

void TransferEngine::failed(Connection& c, Ended how, std::int64_t retryAfterMs, bool refusedForLoad,
                            const std::string& text) {
  closeRequest(c);  // an answer refused: the request is still open
  c.state = Connection::State::kWaiting;
  // A request that wrote the last missing bytes and then failed leaves nothing to fetch.
  if (complete()) {
    finish(End::kComplete, std::string());
    return;
  }
  if (!c.whole && c.position >= c.claim.end) {
    requestDone(c);
    return;
  }
  if (sources_.several() && (how != Ended::kFinal || c.source != 0) &&
      elsewhere(c, how, retryAfterMs, refusedForLoad, text))
    return;
  if (how == Ended::kFinal && c.source == 0) {
    finish(End::kRefused, text);
    return;
  }
  if (active() > 1) {
    // Others still run: this one goes, and they fetch what it left. A server that refused
    // it for load gets fewer for a while; after a cut or a stall the ramp measures again
    // and climbs back while connections pay.
    c.state = Connection::State::kGone;
    note(Note::Kind::kDropped, c,
         "connection " + std::to_string(c.id) + " dropped: " +
             (refusedForLoad ? "the server refused it for load (" + text + ")"
                             : "it failed while others run (" + text + ")"));
    if (refusedForLoad && !sources_.several()) {
      ceiling_ = std::max(1, active());
      ceilingUntil_ = now_ + std::max(kCeilingRestMs, retryAfterMs);
    }
    wanted_ = std::max(1, active());
    if (severalOn())
      remeasure();
    return;
  }
  const std::optional<std::int64_t> wait =
      schedule_.failed(retryAfterMs >= 0 ? std::optional<std::int64_t>(retryAfterMs) : std::nullopt);
  if (!wait) {
    finish(End::kBudgetSpent, text);
    return;
  }
  c.startAt = now_ + *wait;
  note(Note::Kind::kRetry, c,
       "retry on connection " + std::to_string(c.id) + " in " + std::to_string(*wait) + " ms: " + text);
  c.quiet = true;
  checkQuiet();
}

// The file on the server changed: what is on disk belongs to the old one. The record
// forgets it before any byte of the new one is written, and everything is fetched again,
// once per run.
void TransferEngine::restartFromZero(const Answer& answer) {
  if (++restarts_ >= 2) {
    finish(End::kChangedTwice, "the file on the server changed twice");
    return;
  }
  for (Connection& c : connections_) {
    if (c.state == Connection::State::kRunning)
      closeRequest(c);
    c.state = Connection::State::kGone;
  }
  map_ = SegmentMap(size_);
  validator_ = validatorOf(answer);
  several_ = false;
  ramp_ = Ramp::kOff;
  wanted_ = 1;
  flowSince_ = -1;
  flowBytes_ = 0;
  dirty_ = true;
  holdForRecord_ = true;
  ++epoch_;
  Connection next;
  next.id = nextConnection_++;
  next.startAt = now_;
  connections_.push_back(next);
  record(true);
}

// A copy that failed rests (a mirror that cannot serve the file goes for the run), and
// when another can be asked at once the connection goes on there. True when it did.
bool TransferEngine::elsewhere(Connection& c, Ended how, std::int64_t retryAfterMs, bool refusedForLoad,
                               const std::string& text) {
  const std::string& host = sources_.host(c.source);
  if (how == Ended::kFinal) {
    sources_.drop(c.source);
    note(Note::Kind::kSource, c, "source " + host + " dropped for this run: " + text);
  } else {
    const std::int64_t wait = sources_.rest(c.source, now_, nextRandom());
    if (refusedForLoad) {
      int running = 0;
      for (const Connection& other : connections_)
        running += other.state == Connection::State::kRunning && sources_.host(other.source) == host;
      sources_.limitHost(c.source, running, now_ + std::max(kCeilingRestMs, retryAfterMs));
    }
    note(Note::Kind::kSource, c, "source " + host + " rests " + std::to_string(wait) + " ms: " + text);
  }
  if (!sources_.pick(now_))
    return false;
  c.startAt = now_;
  open(c);
  return true;
}

// What makes a mirror's answer no part of the announced file; "" when it agrees.
std::string TransferEngine::mirrorDisagrees(const Connection& c, const Answer& answer) const {
  if (otherVersion(validator_, answer))
    return "its file is another version (" + (etagLike(validator_) ? answer.etag : answer.lastModified) + ")";
  if (answer.status == 200 && c.ranged)
    return "it sends the whole file to a range request";
  if (answer.status == 200 && answer.contentLength != size_)
    return "its file has " + std::to_string(answer.contentLength) + " bytes";
  if (answer.status == 206) {
    ContentRange range;
    if (!c.ranged || !parseContentRange(answer.contentRange, range) || range.first != c.position)
      return "it answers another range";
    if (range.total != size_)
      return "its file has " + std::to_string(range.total) + " bytes";
  }
  return std::string();
}

void TransferEngine::dropSource(Connection& c, const std::string& why) {
  closeRequest(c);
  sources_.drop(c.source);
  note(Note::Kind::kSource, c, "source " + sources_.host(c.source) + " dropped for this run: " + why);
  c.startAt = now_;
  open(c);
}

double TransferEngine::nextRandom() {
  random_ = random_ * 6364136223846793005ull + 1442695040888963407ull;
  return static_cast<double>(random_ >> 11) / 9007199254740992.0;
}

// ---- 5. the ramp -----------------------------------------------------------------------------

// The first answer showed that the server honours ranges: the file takes its full size
// and more connections may follow.
void TransferEngine::mayGoSeveral() {
  if (several_ || extending_ || rangesIgnored_ || settings_.connections < 2 || !known_ || size_ <= kSeveralFrom ||
      settings_.size != size_)
    return;
  if (fileExtended_) {
    beginSeveral();
    return;
  }
  extending_ = true;
  Command command{Command::Kind::kExtend};
  command.offset = size_;
  // Only what is already recorded: the bytes written since may not be durable yet.
  command.text = recordText(recorded_);
  out_.push_back(command);
}

void TransferEngine::beginSeveral() {
  several_ = true;
  wanted_ = std::max(1, active());
  lastRate_ = 0;
  remeasure();
  // The first step counts from the first byte: a server may have sent a burst before the
  // file took its size, and then pause.
  if (flowSince_ >= 0) {
    windowStart_ = flowSince_;
    windowBytes_ = flowBytes_;
  }
}

void TransferEngine::remeasure() {
  ramp_ = Ramp::kMeasuring;
  stepFrom_ = std::max(1, active());
  stepFirstId_ = 0;
  windowStart_ = now_;
  windowBytes_ = 0;
  windowNewBytes_ = 0;
  lastRate_ = 0;
  secondLook_ = false;
}

void TransferEngine::rampStep() {
  if (ramp_ != Ramp::kMeasuring || !severalOn())
    return;
  if (windowBytes_ == 0) {
    // Nothing flows (an outage): there is nothing to measure yet.
    windowStart_ = now_;
    return;
  }
  const std::int64_t elapsed = now_ - windowStart_;
  const int count = active();
  const int added = count - stepFrom_;
  // The newest connections' bytes decide, when there are some: a server that lets each
  // request start with a burst makes the older ones pause for a while, whatever was added.
  const std::int64_t judged = added > 0 ? windowNewBytes_ : windowBytes_;
  // After a step that did not pay, steps are judged over the longest window: a short one
  // counts the bytes that came just before it as well, enough to pass on a shared line.
  // Added connections that already brought nearly what one brought over a whole window
  // before are judged at once: on a server that lets each answer burst, that is in a few
  // tens of milliseconds, while a shared line cannot give it them so soon.
  const bool already = added > 0 && elapsed > 0 && lastRate_ > 0 && !careful_ &&
                       static_cast<double>(windowNewBytes_) >=
                           kClearly * added * lastRate_ / stepFrom_ * static_cast<double>(kShortestWindowMs);
  if (!already && (elapsed < (careful_ ? kLongestWindowMs : kShortestWindowMs) ||
                   (judged < std::max(added, 1) * kWindowBytes && elapsed < kLongestWindowMs)))
    return;
  // A window judged early counts as a whole one: the next step is judged against a rate,
  // not against a burst.
  const double rate = static_cast<double>(windowBytes_) /
                      static_cast<double>(already ? std::max(elapsed, kShortestWindowMs) : elapsed);
  // A connection on a slower copy can add only its copy's share of a connection.
  double weighted = added;
  if (sources_.several() && added > 0) {
    weighted = 0;
    for (const Connection& c : connections_)
      if (c.state != Connection::State::kGone && c.id >= stepFirstId_)
        weighted += sources_.share(c.source, now_);
  }
  // It pays when the total grew with the added connections, or when each of them gets a
  // good part of what one connection got before: a line they only share gives each less.
  const double each = added > 0 ? static_cast<double>(windowNewBytes_) / static_cast<double>(elapsed) / added : 0;
  const bool pays = already || lastRate_ <= 0 || rate >= lastRate_ * (1.0 + kGain * weighted / stepFrom_) ||
                    (added > 0 && each >= kShare * lastRate_ / stepFrom_);
  if (!pays && !secondLook_) {
    // A short window catches the line's bursts as well as its trend: before connections
    // go, the same window is looked at for twice as long.
    secondLook_ = true;
    secondLookAt_ = windowStart_ + 2 * elapsed;
  }
  if (secondLook_ && now_ < secondLookAt_)
    return;
  secondLook_ = false;
  if (!pays) {
    // The server or the line gives no more for the added connections: they only cost.
    wanted_ = stepFrom_;
    dropNewest();
    ramp_ = Ramp::kSettled;
    // A busy client or line can make a step look useless for a moment: the step is
    // tried again later, each time after twice the wait.
    rampAgainAt_ = now_ + rampWaitMs_;
    rampWaitMs_ = std::min(2 * rampWaitMs_, kCeilingRestMs);
    careful_ = true;
    return;
  }
  // Each added connection got nearly as much as one did before: the server shapes each
  // connection and the line has room, so the next step asks for four times as many.
  const bool clearly = already || (added > 0 && lastRate_ > 0 && each >= kClearly * lastRate_ / stepFrom_);
  lastRate_ = rate;
  // The limit holds per host: other copies on other hosts may take as many again.
  const int most = std::min(kMaxConnections, std::min(ceiling_, settings_.connections) * sources_.hostsInUse());
  if (count >= most) {
    ramp_ = Ramp::kSettled;
    return;
  }
  stepFrom_ = count;
  stepFirstId_ = nextConnection_;
  windowNewBytes_ = 0;
  wanted_ = std::min((clearly ? 4 : 2) * count, most);
  waitingFirstBytes_ = 0;
  ramp_ = Ramp::kConnecting;
  for (int i = count; i < wanted_; ++i)
    addConnection();
  if (waitingFirstBytes_ == 0)
    ramp_ = Ramp::kSettled;  // nothing left to hand out
}

void TransferEngine::addConnection() {
  // A connection fetching all the rest makes room: it stops a segment further on.
  const std::int64_t segment = segmentLength();
  for (Connection& c : connections_)
    if (c.state == Connection::State::kRunning && !c.whole && c.claim.end - c.position > segment)
      c.claim.end = c.position + segment;
  Connection added;
  added.id = nextConnection_++;
  added.added = true;
  connections_.push_back(added);
  open(connections_.back());
  if (connections_.back().state == Connection::State::kGone) {
    connections_.pop_back();
  } else {
    ++waitingFirstBytes_;
    note(Note::Kind::kAdded, connections_.back(),
         "connection " + std::to_string(connections_.back().id) + " added: the ramp opens one more (" +
             std::to_string(active()) + " active)");
  }
}

// Down to wanted_, newest first; the last one running always stays.
void TransferEngine::dropNewest() {
  for (auto c = connections_.rbegin(); c != connections_.rend() && active() > std::max(wanted_, 1); ++c) {
    if (c->state == Connection::State::kGone)
      continue;
    closeRequest(*c);
    c->state = Connection::State::kGone;
    note(Note::Kind::kDropped, *c,
         "connection " + std::to_string(c->id) + " dropped: the newest connections did not raise the rate");
  }
}

void TransferEngine::note(Note::Kind kind, const Connection& c, const std::string& text) {
  if (settings_.note)
    settings_.note(Note{kind, c.id, active(), text});
}

// ---- 6. the record and the end ------------------------------------------------------------------

std::string TransferEngine::recordText(const SegmentMap& map) const { return map.text(settings_.md5, validator_); }

// Data is made durable first, then ".parts" says so: it never claims a byte that a power
// cut could take.
void TransferEngine::record(bool force) {
  if (persist_ != Persist::kIdle || over_)
    return;
  if (ending_ && !known_) {
    // A file of unknown size has no record to keep: ".parts" needs the size.
    endNow(endAs_, endText_);
    return;
  }
  if (ending_) {
    persist_ = Persist::kFinalFlushing;
    out_.push_back(Command{Command::Kind::kFlush});
    return;
  }
  if (!dirty_ || !known_ || (!force && !holdForRecord_ && now_ - lastRecordAt_ < kRecordEveryMs))
    return;
  persist_ = Persist::kFlushing;
  flushing_ = map_;
  flushingValidator_ = validator_;
  flushingEpoch_ = epoch_;
  dirty_ = false;
  lastRecordAt_ = now_;
  out_.push_back(Command{Command::Kind::kFlush});
}

TransferEngine::Commands TransferEngine::flushed(bool ok, const std::string& text, std::int64_t now) {
  if (!diskAnswered(ok, text, now))
    return take();
  if (persist_ == Persist::kFinalFlushing) {
    persist_ = Persist::kFinalSaving;
    if (endAs_ == End::kComplete) {
      out_.push_back(Command{Command::Kind::kDropRecord});
    } else {
      Command save{Command::Kind::kSave};
      save.text = recordText(map_);
      out_.push_back(save);
    }
  } else if (persist_ == Persist::kFlushing) {
    persist_ = Persist::kSaving;
    Command save{Command::Kind::kSave};
    save.text = flushing_.text(settings_.md5, flushingValidator_);
    out_.push_back(save);
  }
  return take();
}

// Whether the answer of the disk lets the record go on: not once the download is over,
// and a refusal ends it on the disk's path.
bool TransferEngine::diskAnswered(bool ok, const std::string& text, std::int64_t now) {
  now_ = now;
  if (over_)
    return false;
  if (!ok)
    finish(End::kDisk, text);
  return ok;
}

TransferEngine::Commands TransferEngine::saved(bool ok, const std::string& text, std::int64_t now) {
  if (!diskAnswered(ok, text, now))
    return take();
  if (persist_ == Persist::kFinalSaving) {
    persist_ = Persist::kIdle;
    endNow(endAs_, endText_);
    return take();
  }
  if (persist_ == Persist::kSaving) {
    persist_ = Persist::kIdle;
    recorded_ = flushing_;
    if (holdForRecord_ && flushingEpoch_ == epoch_) {
      // ".parts" forgot the old file's bytes: the new file may be written now.
      holdForRecord_ = false;
      for (Connection& c : connections_)
        if (c.state == Connection::State::kWaiting && now_ >= c.startAt)
          open(c);
    }
  }
  record(holdForRecord_);
  return take();
}

// The end: every request closed, the data flushed, then ".parts" saved (or dropped, for
// a whole file), then the one kEnd. A disk failure ends at once: the record stays as it
// was last saved, which is true.
// The one end command of the download.
void TransferEngine::endNow(End end, const std::string& text) {
  over_ = true;
  Command command{Command::Kind::kEnd};
  command.end = end;
  command.text = text;
  out_.push_back(command);
}

void TransferEngine::finish(End end, const std::string& text) {
  if (over_ || (ending_ && end != End::kDisk))
    return;
  for (Connection& c : connections_) {
    if (c.state == Connection::State::kRunning)
      closeRequest(c);
    c.state = Connection::State::kGone;
  }
  if (end == End::kDisk) {
    endNow(end, text);
    return;
  }
  ending_ = true;
  endAs_ = end;
  endText_ = text;
  if (persist_ == Persist::kIdle)
    record(true);
}
