#pragma once
// Every decision of a package download, apart from its I/O: which range each connection
// fetches, when connections are added, split or dropped, when a failed request is tried
// again, when the budget is spent, what ".parts" records and when the download ends.
// It takes events (an answer, body bytes, a request's end, time passed, a flush or a
// record save done) and answers with commands for its owner to carry out in order.
// Portable and single-threaded: no clock, no file, no socket; the owner serialises every
// call and passes the time in milliseconds of a monotonic clock.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "download/RetrySchedule.h"
#include "download/SegmentMap.h"
#include "download/SourceRanking.h"

class TransferEngine {
public:
  using Range = SegmentMap::Range;
  static constexpr int kMaxConnections = 8;
  // Several connections only pay on a package this large.
  static constexpr std::int64_t kSeveralFrom = 32ll << 20;
  // With several connections each asks for a segment at a time, in order, so the file's
  // prefix (which the digest follows) stays close behind the newest bytes; at the end the
  // back half of the largest range still running goes to a connection with nothing left.
  static constexpr std::int64_t kSmallestSegment = 4ll << 20;
  static constexpr std::int64_t kLargestSegment = 16ll << 20;
  static constexpr std::int64_t kSmallestSplit = 512ll << 10;
  // WinHTTP under Wine ends every body after 2^31 - 1 bytes whatever its Content-Length
  // says: while more than that is missing, one request asks for a piece of 1 GiB.
  static constexpr std::int64_t kLargestAnswer = 0x7FFFFFFF;
  static constexpr std::int64_t kPiece = 1ll << 30;
  // A request silent this long makes the download "reconnecting"; this long, it is
  // given up and tried again.
  static constexpr std::int64_t kQuietMs = 5000;
  static constexpr std::int64_t kStallMs = 30000;
  // Data is flushed and ".parts" saved at most this often while bytes arrive.
  static constexpr std::int64_t kRecordEveryMs = 1000;
  // The ramp measures each step from the newest connections' first bytes over at least
  // kShortestWindowMs and kWindowBytes per connection added, or at most kLongestWindowMs.
  // A step doubles the count; it pays when the rate grows by kGain of a connection's share
  // for each connection added, or when each added one gets kShare of that share.
  static constexpr std::int64_t kShortestWindowMs = 100;
  static constexpr std::int64_t kLongestWindowMs = 1000;
  static constexpr std::int64_t kWindowBytes = 256 << 10;
  static constexpr double kGain = 0.2;
  static constexpr double kShare = 0.6;
  // A step pays clearly when each added connection gets kClearly of that share: the next
  // step then quadruples the count. Added connections that bring kClearly of what one
  // brought over a whole window are judged at once, before their window is over.
  static constexpr double kClearly = 0.9;
  // A server that refused a connection (429, 503) is asked for more again after this.
  static constexpr std::int64_t kCeilingRestMs = 30000;
  // A step that did not pay is tried again after this, then after twice as long each time.
  static constexpr std::int64_t kStepAgainMs = 2000;

  // Why a download ended. Every end but kComplete is a failure: kDisk goes the disk-error
  // way, the others the network way.
  enum class End {
    kComplete,
    kBudgetSpent,    // transient faults without progress until the retry budget ran out
    kRefused,        // an answer no retry can change (404, 416, a malformed address ...)
    kChangedTwice,   // the file on the server changed a second time during the run
    kDisk,           // a write, flush or record save failed
  };

  struct Command {
    enum class Kind {
      // Send a GET for `request` with `headers` ("Range: ...\r\nIf-Range: ...\r\n", may be
      // empty), for `connection`'s bytes from `offset`, `count` of them (-1: to the end).
      // Its events carry `request`. `source` says which copy of the package is asked.
      kOpen,
      // Abort `request`; nothing it does later reaches the engine.
      kClose,
      // Of the `length` body bytes last reported by data(), skip `skip`, write `count` at
      // file offset `offset`, drop the rest. May come several times per data().
      kWrite,
      // Make every byte written so far durable; answer with flushed().
      kFlush,
      // Replace ".parts" with `text` durably; answer with saved().
      kSave,
      // The file is whole: ".parts" goes. Answer with saved().
      kDropRecord,
      // Give the file its full size `offset` so ranges are written in place, after `text`
      // is saved as ".parts"; answer with extended().
      kExtend,
      // Tell the receiver: progress (status 1) or reconnecting (status 4).
      kReport,
      // The download is over; `end` says how, `text` why. Exactly once, last.
      kEnd,
    };
    explicit Command(Kind k) : kind(k) {}
    Kind kind;
    int request = 0;
    int connection = 0;
    int source = 0;
    std::string headers;
    std::int64_t skip = 0;
    std::int64_t offset = 0;
    std::int64_t count = 0;
    std::string text;
    int status = 0;
    End end = End::kComplete;
  };
  using Commands = std::vector<Command>;

  // What the owner saw of an answer, as far as it has these headers ("" or -1 when not).
  struct Answer {
    int status = 0;
    std::int64_t contentLength = -1;
    std::string contentRange;
    std::string etag;
    std::string lastModified;
    bool acceptRanges = false;
    std::int64_t retryAfterMs = -1;
  };

  // How a request ended when it was not closed by the engine.
  enum class Ended {
    kBodyEnded,    // the body ended (its length may still fall short)
    kTransient,    // a fault another try may get past (reset, refused, timeout, 5xx)
    kUnreachable,  // transient, and no connection could be made at all
    kFinal,        // no retry will help
  };

  // Why connections come and go, for the owner's log: `text` is the whole line.
  struct Note {
    enum class Kind { kRetry, kAdded, kDropped, kStalled, kSource } kind;
    int connection = 0;  // numbered from 1 in the order they were opened
    int active = 0;      // connections running or waiting to retry, after this
    std::string text;
  };

  struct Settings {
    std::int64_t size = 0;             // announced size; 0: not known
    std::string md5;                   // for the ".parts" text
    int connections = 4;               // at most this many at once (clamped to 1..8)
    SegmentMap onDisk;                 // what the record kept from an earlier run
    std::string validator;             // the record's ETag or Last-Modified, "" if none
    std::uint64_t seed = 1;            // for the retry schedule's jitter
    std::function<void(const Note&)> note;  // may be empty
    // The host of each copy of the package, the announced one first; empty (or a size not
    // announced) keeps to the announced one. The owner maps a command's source to its address.
    std::vector<std::string> sources;
  };

  explicit TransferEngine(Settings settings);
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  // The first request (or the end, when the record shows the file whole).
  Commands start(std::int64_t now);
  Commands answered(int request, const Answer& answer, std::int64_t now);
  // `length` body bytes of `request` are in the owner's hands; kWrite commands say where
  // they go. The owner reports a failed write with writeFailed().
  Commands data(int request, std::int64_t length, std::int64_t now);
  Commands ended(int request, Ended how, const std::string& text, std::int64_t now);
  Commands writeFailed(const std::string& text, std::int64_t now);
  Commands flushed(bool ok, const std::string& text, std::int64_t now);
  Commands saved(bool ok, const std::string& text, std::int64_t now);
  Commands extended(bool ok, std::int64_t now);
  // Time passed; call it at wakeAt() at the latest.
  Commands tick(std::int64_t now);

  // When tick() has something to do next; nothing when only events can move it.
  std::optional<std::int64_t> wakeAt() const;
  bool over() const { return over_; }
  std::int64_t downloaded() const { return map_.onDisk(); }
  // The file's final size, 0 while neither announced nor told by an answer.
  std::int64_t total() const;
  const SegmentMap& map() const { return map_; }
  const std::string& validator() const { return validator_; }
  int running() const;
  // The ".parts" text of `map` with the current validator.
  std::string recordText(const SegmentMap& map) const;
  const SourceRanking& sources() const { return sources_; }

private:
  struct Connection {
    int id = 0;
    enum class State { kWaiting, kRunning, kGone } state = State::kWaiting;
    int request = 0;               // the running request's number
    int source = 0;                // the copy of the package it asks
    bool onSource = false;         // counted as running on it
    std::int64_t startAt = 0;      // kWaiting: when its next request goes out
    Range claim{};                 // the bytes it fetches now
    std::int64_t position = 0;     // the next body byte goes here in the file
    std::int64_t askedEnd = -1;    // the end the Range header named; -1: to the file's end
    bool ranged = false;           // the request asked for a range
    std::int64_t bodyAt = 0;       // a whole-file body: the body's offset of the next byte
    bool whole = false;            // the answer is the whole file from byte 0
    bool answered = false;
    bool gotByte = false;
    bool added = false;            // opened by the ramp beside the first
    std::int64_t lastByteAt = 0;
    bool quiet = false;
  };
  enum class Ramp { kOff, kConnecting, kMeasuring, kSettled };
  enum class Persist { kIdle, kFlushing, kSaving, kFinalFlushing, kFinalSaving };

  Connection* find(int request);
  bool complete() const;
  bool severalOn() const { return several_ && !rangesIgnored_; }
  Command write(std::int64_t skip, std::int64_t offset, std::int64_t count) const;
  std::vector<Range> busy(const Connection* except) const;
  std::int64_t segmentLength() const;
  std::optional<Range> nextClaim(const Connection& c);
  std::optional<Range> split();
  void open(Connection& c);
  void closeRequest(Connection& c);
  void requestDone(Connection& c);
  void failed(Connection& c, Ended how, std::int64_t retryAfterMs, bool refusedForLoad, const std::string& text);
  void restartFromZero(const Answer& answer);
  void ignoreRanges(Connection& keep);
  void mayGoSeveral();
  void beginSeveral();
  void remeasure();
  void rampStep();
  void addConnection();
  void dropNewest();
  void note(Note::Kind kind, const Connection& c, const std::string& text);
  double nextRandom();
  void leaveSource(Connection& c);
  std::string mirrorDisagrees(const Connection& c, const Answer& answer) const;
  void dropSource(Connection& c, const std::string& why);
  bool elsewhere(Connection& c, Ended how, std::int64_t retryAfterMs, bool refusedForLoad, const std::string& text);
  void record(bool force);
  void finish(End end, const std::string& text);
  void endNow(End end, const std::string& text);
  bool diskAnswered(bool ok, const std::string& text, std::int64_t now);
  void progressed();
  void checkQuiet();
  int active() const;
  Commands take();

  Settings settings_;
  std::int64_t now_ = 0;
  bool known_ = false;  // size_ is the file's size
  std::int64_t size_ = 0;
  SegmentMap map_;
  std::string validator_;
  std::vector<Connection> connections_;
  int nextRequest_ = 1;
  int nextConnection_ = 1;
  Commands out_;
  std::uint64_t random_;
  RetrySchedule schedule_;
  SourceRanking sources_;
  bool over_ = false;
  bool ending_ = false;  // the end waits for the record
  End endAs_ = End::kComplete;
  std::string endText_;
  bool rangesIgnored_ = false;
  bool several_ = false;
  bool extending_ = false;
  bool fileExtended_ = false;
  int restarts_ = 0;
  int epoch_ = 0;               // restarts so far: which file the bytes belong to
  bool holdForRecord_ = false;  // after a restart: nothing is asked for until ".parts" forgot the old file
  bool reconnecting_ = false;

  // The ramp.
  Ramp ramp_ = Ramp::kOff;
  int wanted_ = 1;
  int ceiling_ = 1;
  std::int64_t ceilingUntil_ = 0;
  std::int64_t rampAgainAt_ = 0;
  std::int64_t rampWaitMs_ = kStepAgainMs;
  bool careful_ = false;  // a step did not pay: the next are judged over the longest window
  int stepFrom_ = 1;  // the count before the step being measured
  int waitingFirstBytes_ = 0;
  std::int64_t windowStart_ = 0;
  std::int64_t windowBytes_ = 0;
  std::int64_t flowSince_ = -1;  // the run's first body byte came then; bytes since
  std::int64_t flowBytes_ = 0;
  int stepFirstId_ = 0;            // connections from this id on were added by the step measured
  std::int64_t windowNewBytes_ = 0;  // their bytes in the window
  double lastRate_ = 0;
  bool secondLook_ = false;
  std::int64_t secondLookAt_ = 0;

  // ".parts": what it says, what is being made durable, and when it was last saved.
  Persist persist_ = Persist::kIdle;
  SegmentMap recorded_;
  SegmentMap flushing_;
  std::string flushingValidator_;
  int flushingEpoch_ = 0;
  bool dirty_ = false;
  std::int64_t lastRecordAt_ = 0;
};
