// What the streams do alike on every platform: owning and closing their
// descriptor. Opening, reading and writing are in the platform files.
#include <utility>

#include "file_stream.h"

namespace korvane {

InputStream::InputStream(InputStream&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

InputStream::~InputStream() {
    if (descriptor_ >= 0) CloseDescriptor(descriptor_);
}

OutputStream::OutputStream(OutputStream&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

OutputStream::~OutputStream() {
    if (descriptor_ >= 0) CloseDescriptor(descriptor_);
}

bool OutputStream::Close() {
    return CloseDescriptor(std::exchange(descriptor_, -1));
}

}  // namespace korvane
