#pragma once
// One event of a socket node's receive thread, or one packet waiting to be sent.
#include <memory>

struct SocketNotification {
  enum Type : int {
    None = 0,
    Connected = 1,      // no data
    ConnectFailed = 2,  // data: a message text
    Disconnected = 3,   // data: a message text, or none
    Packet = 4,         // data: one packet's payload (received), or the bytes to send
  };

  int type = None;
  std::unique_ptr<char[]> data;
  int size = 0;
};
