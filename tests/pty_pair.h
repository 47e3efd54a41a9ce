// A pseudo-terminal pair for the tests of the real serial port: the test holds the master (the
// device's side), the port opens the slave.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

namespace rompush::testing {

class Pty {
  public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_TRUE(master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0);
        slave_ = ::ptsname(master_);
    }
    ~Pty() { Close(); }
    void Close() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    int Master() const { return master_; }
    const std::string& Slave() const { return slave_; }
    void Write(const std::string& bytes) {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(master_, bytes.data(), bytes.size()));
    }
    // What the port wrote, waiting up to a second for count bytes.
    std::string Read(std::size_t count) {
        std::string got;
        char buf[256];
        for (const auto start = std::chrono::steady_clock::now();
             got.size() < count &&
             std::chrono::steady_clock::now() - start < std::chrono::seconds(1);) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                got.append(buf, static_cast<std::size_t>(
                                    std::max<ssize_t>(0, ::read(master_, buf, sizeof buf))));
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

}  // namespace rompush::testing
