#pragma once
// Programs for the player (the game, the licence page) started with the player's own
// rights rather than the installer's. When this elevated copy was started by the
// installer's own unelevated copy, that copy waits for it and starts such programs on its
// request, over a pipe whose name has a random part and is given only on the elevated
// copy's command line. An installer started elevated directly starts them itself.
// UI thread.
#include <string>

class UserLauncher {
public:
  // The option that carries the pipe's name to the elevated copy. The payload is never
  // given it; a restarted copy only once the unelevated copy has agreed to serve it.
  static constexpr const char* kOption = "-playerChannel";

  // The unelevated side: a new pipe, served only while `serveUntilExit` runs.
  UserLauncher();
  ~UserLauncher();
  UserLauncher(const UserLauncher&) = delete;
  UserLauncher& operator=(const UserLauncher&) = delete;
  // Empty when no pipe could be made; the elevated copy then starts programs itself.
  const std::string& name() const { return name_; }
  // Starts what the process `process` (a HANDLE) asks for until that process ends, or the
  // copy it restarted itself as has ended; the last one's exit code.
  unsigned long serveUntilExit(void* process);

  // The elevated side: the pipe named on the command line ("" for none).
  static void adopt(const std::string& name);
  static const std::string& adopted();
  // Asks the unelevated copy to serve the process `processId` too, which this process made
  // suspended and holds: its restarted self. False without a pipe or when refused.
  static bool handOver(unsigned long processId);
  // Starts `commandLine` in `folder`, or opens `target` as the shell would. With a pipe the
  // unelevated copy does it; false when it could not. Without one this process does.
  static bool startProgram(const std::string& commandLine, const std::string& folder);
  static bool openDocument(const std::string& target);

private:
  std::string name_;
  void* pipe_ = nullptr;
};
