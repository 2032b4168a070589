// The worker reads the file back in chunks; MD5 state and reader belong to it alone.
// Everything the writer's thread changes is under `mutex`; `generation` tells the worker
// that a restart made what it was reading stale.
#include "download/DigestFollower.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "download/CMD5Checksum.h"
#include "download/FileReader.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// A file that cannot be read back is tried again this often, at this interval, before
// the digest is given up on.
constexpr int kReadAttempts = 50;
constexpr int kReadRetryMs = 100;
// Reads of this size keep pace with any download at a small fixed cost in memory.
constexpr std::size_t kReadSize = 1024 * 1024;

} // namespace

struct DigestFollower::Impl {
  mutable std::mutex mutex;
  std::condition_variable wake;
  std::thread worker;

  std::wstring path;
  ReadyCallback callback = nullptr;
  void* context = nullptr;

  // Under `mutex`.
  std::int64_t available = 0;  // bytes [0, available) are on disk
  std::int64_t finalSize = -1;
  std::int64_t hashed = 0;
  unsigned generation = 0;
  bool stopping = false;
  bool ready = false;
  bool failed = false;
  std::string digest;
  int readAttempts = kReadAttempts;
  int readRetryMs = kReadRetryMs;

  void run();
};

DigestFollower::DigestFollower() : impl_(std::make_unique<Impl>()) {}

DigestFollower::~DigestFollower() { stop(); }

void DigestFollower::start(const std::wstring& path, std::int64_t onDisk, std::int64_t size,
                           ReadyCallback ready, void* context) {
  stop();
  Impl& d = *impl_;
  d.path = path;
  d.callback = ready;
  d.context = context;
  d.available = std::max<std::int64_t>(onDisk, 0);
  d.finalSize = size;
  d.hashed = 0;
  d.stopping = false;
  d.ready = false;
  d.failed = false;
  d.digest.clear();
  d.worker = std::thread([&d] { d.run(); });
}

void DigestFollower::advance(std::int64_t end) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (end <= impl_->available)
    return;
  impl_->available = end;
  impl_->wake.notify_all();
}

void DigestFollower::setSize(std::int64_t size) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->finalSize = size;
  impl_->wake.notify_all();
}

void DigestFollower::restart() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  ++impl_->generation;
  impl_->available = 0;
  impl_->hashed = 0;
  impl_->ready = false;
  impl_->failed = false;
  impl_->digest.clear();
  impl_->wake.notify_all();
}

void DigestFollower::stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->stopping = true;
    impl_->wake.notify_all();
  }
  if (impl_->worker.joinable())
    impl_->worker.join();
}

std::int64_t DigestFollower::hashed() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->hashed;
}

std::int64_t DigestFollower::size() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->finalSize;
}

bool DigestFollower::ready() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->ready;
}

bool DigestFollower::failed() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->failed;
}

#ifdef QX_TEST_HOOKS
void DigestFollower::setReadPatience(int attempts, int intervalMs) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->readAttempts = attempts;
  impl_->readRetryMs = intervalMs;
}
#endif

std::string DigestFollower::digest() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->digest;
}

void DigestFollower::Impl::run() {
#ifdef _WIN32
  // Hashing may take a core for itself; the window and the transfer come first.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#endif
  CMD5Checksum md5;
  std::vector<std::uint8_t> buffer(kReadSize);
  std::unique_ptr<FileReader> reader;
  int failures = 0;

  std::unique_lock<std::mutex> lock(mutex);
  unsigned seen = generation - 1;  // a fresh state at the first turn
  while (!stopping) {
    if (seen != generation) {
      seen = generation;
      md5.reset();
      reader.reset();
      failures = 0;
    }
    if (!ready && finalSize >= 0 && hashed >= finalSize) {
      digest = CMD5Checksum::toHex(md5.finish());
      ready = true;
      // The file is the caller's again: to run, to move or to delete.
      reader.reset();
      if (callback) {
        lock.unlock();
        callback(context);
        lock.lock();
      }
      continue;
    }
    const std::int64_t limit = finalSize >= 0 ? std::min(available, finalSize) : available;
    if (ready || failed || hashed >= limit) {
      wake.wait(lock);
      continue;
    }

    const std::int64_t at = hashed;
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(buffer.size(), limit - at));
    lock.unlock();
    if (!reader) {
      reader = std::make_unique<FileReader>(path);
      if (!reader->seek(at))
        reader.reset();
    }
    const std::size_t got = reader ? reader->read(buffer.data(), want) : 0;
    if (got > 0)
      md5.update(buffer.data(), got);
    lock.lock();
    if (seen != generation)
      continue;  // the file was cut meanwhile: what was read is stale
    if (got > 0) {
      hashed += static_cast<std::int64_t>(got);
      failures = 0;
      continue;
    }
    // Bytes the writer says are there could not be read: try again from a fresh handle,
    // and in the end report a disk error, never a digest of part of the file.
    reader.reset();
    if (++failures >= readAttempts) {
      failed = true;
      if (callback) {
        lock.unlock();
        callback(context);
        lock.lock();
      }
      continue;
    }
    wake.wait_for(lock, std::chrono::milliseconds(readRetryMs));
  }
}
