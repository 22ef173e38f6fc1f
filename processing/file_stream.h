// Input and output files as plain descriptors with vectored reads and writes,
// so that whole runs of rows move in one system call.
#pragma once

#include <cstddef>
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

enum class ReadOutcome {
    kFilled,  // every span was filled
    kEnded,   // the file ended first
    kFailed,  // a read error
};

class InputStream {
public:
    // Opens a file for binary reading. An empty name never opens.
    static std::optional<InputStream> Open(const char* name);

    InputStream(InputStream&& other) noexcept;
    InputStream& operator=(InputStream&&) = delete;
    ~InputStream();

    // Fills the spans in order until they are full or the file ends; bytes
    // past the end stay as they were. Partial reads (pipes) are continued.
    // The spans are consumed.
    ReadOutcome Read(std::span<IoSpan> spans);

private:
    explicit InputStream(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

class OutputStream {
public:
    // Creates or truncates a file for binary writing. An empty name never opens.
    static std::optional<OutputStream> Create(const char* name);

    OutputStream(OutputStream&& other) noexcept;
    OutputStream& operator=(OutputStream&&) = delete;
    ~OutputStream();

    // Writes every span in order. The spans are consumed. Returns false on a
    // write error (for example a full disk).
    bool Write(std::span<IoSpan> spans);

    // Closes the file; returns false when the system reports that buffered
    // data could not be stored.
    bool Close();

private:
    explicit OutputStream(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

}  // namespace korvane
