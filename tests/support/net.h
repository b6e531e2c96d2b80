// net.h: loopback ports for tests that start servers.
#ifndef TESTS_SUPPORT_NET_H_
#define TESTS_SUPPORT_NET_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {

inline sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

// A port on 127.0.0.1 that was free a moment ago.
inline int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = Loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

inline bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = Loopback(port);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// Waits up to `seconds` for the port to accept, or (`open` false) to stop.
inline bool WaitFor(int port, bool open, int seconds = 10) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (Accepts(port) == open) return true;
    usleep(50 * 1000);
  }
  return false;
}

}  // namespace net

#endif  // TESTS_SUPPORT_NET_H_
