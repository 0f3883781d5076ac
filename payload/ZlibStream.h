// The owner of one raw deflate stream (no zlib header: ZIP entries hold bare deflate data),
// ended whichever way its user leaves.
#pragma once

#include <zlib.h>

namespace zip {

enum class ZlibDirection { Inflate, Deflate };

template <ZlibDirection direction> class ZlibStream {
public:
    ZlibStream() {
        if constexpr (direction == ZlibDirection::Inflate)
            ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
        else
            ok_ = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                               Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~ZlibStream() {
        if (!ok_)
            return;
        if constexpr (direction == ZlibDirection::Inflate)
            inflateEnd(&stream_);
        else
            deflateEnd(&stream_);
    }
    ZlibStream(const ZlibStream&) = delete;
    ZlibStream& operator=(const ZlibStream&) = delete;
    bool ok() const { return ok_; }
    z_stream* get() { return &stream_; }

private:
    z_stream stream_{};
    bool ok_ = false;
};

using InflateStream = ZlibStream<ZlibDirection::Inflate>;
using DeflateStream = ZlibStream<ZlibDirection::Deflate>;

} // namespace zip
