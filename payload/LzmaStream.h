// The owner of one liblzma stream, ended whichever way its user leaves. ZIP entries hold raw
// LZMA1 data (method 14); the coder is set up by the reader and the writer with their filters.
#pragma once

#include <lzma.h>

namespace zip {

class LzmaStream {
public:
    LzmaStream() = default;
    ~LzmaStream() { lzma_end(&stream_); }
    LzmaStream(const LzmaStream&) = delete;
    LzmaStream& operator=(const LzmaStream&) = delete;
    lzma_stream* get() { return &stream_; }

private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

} // namespace zip
