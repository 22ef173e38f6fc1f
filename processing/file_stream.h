// Input and output files as plain descriptors with vectored reads and writes,
// so that whole runs of rows move in one system call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#if defined(_WIN32)
#include "io_span_windows.h"
#else
#include <sys/uio.h>
#endif

namespace korvane {

// One contiguous piece of memory for a vectored read or write.
using IoSpan = iovec;

// Closes a descriptor with the platform's own call; false when it reports an
// error. Each platform's stream file defines it.
bool CloseDescriptor(int descriptor);

class InputStream {
public:
    // Opens a file for binary reading. An empty name never opens.
    static std::optional<InputStream> Open(const char* name);

    InputStream(InputStream&& other) noexcept;
    InputStream& operator=(InputStream&&) = delete;
    ~InputStream();

    // True for a regular file that reports a size above 0: one that can be
    // read again at any offset and holds what it held. Pipes, terminals and
    // the files in /proc (size 0, made anew on each read) are not.
    bool IsRegularWithData() const;

    // Reads from the current position into the spans in order until they are
    // full or the file ends; partial reads (pipes) are continued. Returns the
    // bytes read (fewer than the spans hold only where the file ended), or
    // nothing on a read error. Bytes past the end stay as they were; the
    // spans are consumed.
    std::optional<std::size_t> Read(std::span<IoSpan> spans);

    // The same from `offset` on, for a regular file.
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<IoSpan> spans);

private:
    explicit InputStream(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

class OutputStream {
public:
    // Opens a file for binary writing at its first byte, creating it when it
    // does not exist. An existing file is not emptied: SetLength cuts it once
    // everything is written. An empty name never opens.
    static std::optional<OutputStream> Open(const char* name);

    OutputStream(OutputStream&& other) noexcept;
    OutputStream& operator=(OutputStream&&) = delete;
    ~OutputStream();

    // Writes every span in order at the current position. The spans are
    // consumed. Returns false on a write error (for example a full disk).
    bool Write(std::span<IoSpan> spans);

    // Sets a regular file's length (only ever shortening what was written);
    // other outputs (devices, pipes) have no length and are left alone.
    // Returns false when the system refuses.
    bool SetLength(std::uint64_t length);

    // Closes the file; returns false when the system reports that buffered
    // data could not be stored.
    bool Close();

private:
    explicit OutputStream(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

}  // namespace korvane
