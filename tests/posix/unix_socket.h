#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>

// A listening-less Unix socket bound to `name` in the current directory;
// returns its descriptor, or -1.
inline int BindUnixSocket(const char* name) {
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", name);
  if (sock < 0 ||
      bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (sock >= 0) close(sock);
    return -1;
  }
  return sock;
}
