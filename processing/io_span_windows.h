// Windows has no <sys/uio.h>: the same span record and limit, for the file
// streams of file_stream_windows.cpp, which move the spans one at a time.
#pragma once

#include <cstddef>

struct iovec {
    void* iov_base;
    std::size_t iov_len;
};

#ifndef IOV_MAX
#define IOV_MAX 1024
#endif
