#pragma once

#include <optional>
#include <string>

namespace vp {

// Who takes the connections the backend makes to a loopback port (the notifier's).
struct Listener {
  bool listening = false;
  bool ownerKnown = false;  // the system tells who owns the socket (Linux: /proc/net/tcp)
  unsigned uid = 0;
  int pid = -1;         // the process holding the socket, -1 when none could be matched
  std::string program;  // its name
};

Listener LoopbackListener(int port);

struct SocketOwner {
  unsigned uid = 0;
  unsigned long inode = 0;
};

// From the text of /proc/net/tcp or /proc/net/tcp6: the listening socket on the port that takes
// connections to 127.0.0.1 (bound to it, to every address, or to its IPv6-mapped form).
std::optional<SocketOwner> ListeningSocketOwner(const std::string& procNetTcp, int port);

}  // namespace vp
