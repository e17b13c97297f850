#include "test_support/socket_pair.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace quorvane::testing_support {

socket_pair::socket_pair() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, handles_) != 0) {
    ADD_FAILURE() << "Unable to make socket pair: " << std::strerror(errno);
    handles_[0] = handles_[1] = -1;
  }
}

socket_pair::~socket_pair() {
  for (int handle : handles_) {
    if (handle >= 0) ::close(handle);
  }
}

int socket_pair::take_first() {
  return std::exchange(handles_[0], -1);
}

int socket_pair::take_second() {
  return std::exchange(handles_[1], -1);
}

}  // namespace quorvane::testing_support
