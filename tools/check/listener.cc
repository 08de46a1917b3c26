#include "tools/check/listener.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "util/platform.h"

namespace vp {

namespace {

constexpr char kListenState[] = "0A";

// The kernel prints each 32-bit word of an address as the hexadecimal of its bytes read in the
// machine's own order, so comparing with network-order words works on any machine.
std::vector<uint32_t> AddressWords(const std::string& hex) {
  std::vector<uint32_t> words;
  for (size_t at = 0; at + 8 <= hex.size(); at += 8)
    words.push_back(static_cast<uint32_t>(std::strtoul(hex.substr(at, 8).c_str(), nullptr, 16)));
  return words;
}

bool TakesLoopbackConnections(const std::string& hex) {
  std::vector<uint32_t> words = AddressWords(hex);
  const uint32_t loopback = htonl(INADDR_LOOPBACK);
  if (hex.size() == 8)
    return words[0] == loopback || words[0] == htonl(INADDR_ANY);
  if (hex.size() != 32 || words[0] != 0 || words[1] != 0)
    return false;
  bool any = words[2] == 0 && words[3] == 0;
  bool mapped = words[2] == htonl(0xffff) && words[3] == loopback;
  return any || mapped;
}

bool Connects(int port) {
  int fd = SocketCloexec(AF_INET, SOCK_STREAM, 0, true);
  if (fd < 0)
    return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (!connected && errno == EINPROGRESS) {
    pollfd ready{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    connected = poll(&ready, 1, 1000) == 1 &&
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
  close(fd);
  return connected;
}

#if VP_LINUX_EXTRAS
std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The process with a descriptor on the socket, found by its inode among /proc/<pid>/fd.
void FindHolder(unsigned long inode, Listener& listener) {
  const std::string wanted = "socket:[" + std::to_string(inode) + "]";
  DIR* processes = opendir("/proc");
  if (processes == nullptr)
    return;
  while (const dirent* process = readdir(processes)) {
    std::string pid = process->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::string fds = "/proc/" + pid + "/fd/";
    DIR* descriptors = opendir(fds.c_str());
    if (descriptors == nullptr)
      continue;
    while (const dirent* fd = readdir(descriptors)) {
      char target[64] = {};
      ssize_t n = readlink((fds + fd->d_name).c_str(), target, sizeof target - 1);
      if (n > 0 && wanted == std::string(target, static_cast<size_t>(n))) {
        listener.pid = std::atoi(pid.c_str());
        std::string comm = ReadAll("/proc/" + pid + "/comm");
        listener.program = comm.substr(0, comm.find('\n'));
        break;
      }
    }
    closedir(descriptors);
    if (listener.pid > 0)
      break;
  }
  closedir(processes);
}
#endif

}  // namespace

std::optional<SocketOwner> ListeningSocketOwner(const std::string& procNetTcp, int port) {
  std::istringstream lines(procNetTcp);
  std::string line;
  std::getline(lines, line);  // the heading
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits;
    unsigned long timeout = 0;
    SocketOwner owner;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >>
          owner.uid >> timeout >> owner.inode))
      continue;
    size_t colon = local.find(':');
    if (state != kListenState || colon == std::string::npos ||
        std::strtol(local.c_str() + colon + 1, nullptr, 16) != port ||
        !TakesLoopbackConnections(local.substr(0, colon)))
      continue;
    return owner;
  }
  return std::nullopt;
}

Listener LoopbackListener(int port) {
  Listener listener;
#if VP_LINUX_EXTRAS  // elsewhere the system does not tell who owns a socket
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::optional<SocketOwner> owner = ListeningSocketOwner(ReadAll(table), port);
    if (owner) {
      listener.listening = true;
      listener.ownerKnown = true;
      listener.uid = owner->uid;
      FindHolder(owner->inode, listener);
      return listener;
    }
  }
#endif
  listener.listening = Connects(port);
  return listener;
}

}  // namespace vp
