// What the Linux files share: an owned descriptor, the name under which the
// library opens a descriptor the host holds, and the system's errors in the
// words a user expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace tintwell_cli {

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { Close(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void Close() {
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    }

private:
    int fd_ = -1;
};

// "/proc/self/fd/N": the library opens the very file the host holds.
std::string DescriptorName(int fd);

// What the system says about an error, in the words a user expects.
std::string ErrnoWords(int error);

// Writes all `count` bytes, going on after short writes and interruptions;
// false with errno set when a write fails.
bool WriteAll(int fd, const void* bytes, std::size_t count);

// Reads `count` bytes from `offset` into `bytes` (fewer where the file
// ends), going on after short reads and interruptions; false with the
// system's words when a read fails.
bool ReadAllAt(int fd, std::uint64_t offset, std::size_t count, std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace tintwell_cli
