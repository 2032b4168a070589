#pragma once
// The MD5 digest of a file that is still being written: a worker thread hashes what is
// already on disk, then follows the writer, reading back each stretch as soon as every
// byte before it is there. The digest is ready when the last byte is, so verifying a
// package of any size costs the user-interface thread nothing. Portable.
#include <cstdint>
#include <memory>
#include <string>

// The writer's thread calls advance, setSize and restart; any thread reads the state;
// start and stop belong to the owner and are not called from the ready callback.
class DigestFollower {
public:
  // Called once on the worker thread when the digest is ready, or when the file could
  // not be read back.
  using ReadyCallback = void (*)(void* context);

  DigestFollower();
  // Stops the worker and waits for it.
  ~DigestFollower();
  DigestFollower(const DigestFollower&) = delete;
  DigestFollower& operator=(const DigestFollower&) = delete;

  // Starts following `path`, whose first `onDisk` bytes are written already. `size` is
  // the file's final size, or -1 until setSize tells it.
  void start(const std::wstring& path, std::int64_t onDisk, std::int64_t size, ReadyCallback ready,
             void* context);
  // Bytes [0, end) are on disk.
  void advance(std::int64_t end);
  // The file's final size.
  void setSize(std::int64_t size);
  // The file was cut to nothing and is written again from its first byte.
  void restart();
  // Ends the worker; a digest not ready by now never becomes ready.
  void stop();

  std::int64_t hashed() const;
  std::int64_t size() const;
  bool ready() const;
  // Bytes the writer said were on disk could not be read back: a disk error. There is
  // no digest then, so a file that is right is never judged by a partial read.
  bool failed() const;
  // 32 uppercase hexadecimal digits once ready, else empty.
  std::string digest() const;

#ifdef QX_TEST_HOOKS
  // How often, and how long apart, a failed read-back is tried again before failed().
  void setReadPatience(int attempts, int intervalMs);
#endif

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
