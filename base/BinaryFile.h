// The one owner of a C runtime stream: 64-bit offsets, closed when it goes out of scope, and a
// Close() that reports what the close found (a full disk shows there). Paths are UTF-8; on
// Windows they are opened by their UTF-16 form, so that any name opens.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#ifdef _WIN32
#include "win32/WideText.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#endif

namespace base {

class BinaryFile {
public:
    BinaryFile() = default;
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;
    ~BinaryFile() {
        if (stream_)
            std::fclose(stream_);
    }

    // Each way of opening first closes a stream still held from before.
    bool Open(const std::string& path, const char* mode) {
        Close();
#ifdef _WIN32
        stream_ = ::_wfopen(Wide(path).c_str(), Wide(mode).c_str());
#else
        stream_ = std::fopen(path.c_str(), mode);
#endif
        return stream_ != nullptr;
    }
#ifdef _WIN32
    // Creates a file that did not exist, for writing, so that nobody else can write it while
    // this stream holds it. False when a file or folder of that name exists.
    bool CreateNewDenyingWrites(const std::string& path) {
        Close();
        return StreamOn(::_wsopen(Wide(path).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                                  _SH_DENYWR, _S_IREAD | _S_IWRITE),
                        "wb");
    }
    // Reads through a C runtime descriptor of a file already open (_open_osfhandle), which the
    // stream owns from now on, also when this fails.
    bool ReadFromDescriptor(int descriptor) {
        Close();
        return StreamOn(descriptor, "rb");
    }
    // Opens so that nobody else can open the file at all while this stream holds it.
    bool OpenDenyingOthers(const std::string& path, const char* mode) {
        Close();
        stream_ = ::_wfsopen(Wide(path).c_str(), Wide(mode).c_str(), _SH_DENYRW);
        return stream_ != nullptr;
    }
#endif
    // Whether `path` opens for reading: it exists and nobody holds it denying reads.
    static bool OpensForReading(const std::string& path) {
        BinaryFile file;
        return file.Open(path, "rb");
    }
    // Closes the stream; false when buffered data could not be written.
    bool Close() {
        std::FILE* stream = stream_;
        stream_ = nullptr;
        return stream && std::fclose(stream) == 0;
    }
    bool Seek(std::int64_t offset, int origin = SEEK_SET) {
#ifdef _WIN32
        return _fseeki64(stream_, offset, origin) == 0;
#else
        return fseeko(stream_, offset, origin) == 0;
#endif
    }
    std::int64_t Tell() {
#ifdef _WIN32
        return _ftelli64(stream_);
#else
        return ftello(stream_);
#endif
    }
    // The file's length; the position is left at the end.
    std::int64_t Length() {
        return Seek(0, SEEK_END) ? Tell() : -1;
    }
    std::size_t Read(void* buffer, std::size_t size) {
        return std::fread(buffer, 1, size, stream_);
    }
    bool ReadExact(void* buffer, std::size_t size) {
        return Read(buffer, size) == size;
    }
    bool Write(const void* data, std::size_t size) {
        return std::fwrite(data, 1, size, stream_) == size;
    }
    bool Failed() const {
        return std::ferror(stream_) != 0;
    }

private:
#ifdef _WIN32
    // The stream on `descriptor`, which it owns, closed when there is none.
    bool StreamOn(int descriptor, const char* mode) {
        if (descriptor < 0)
            return false;
        stream_ = ::_fdopen(descriptor, mode);
        if (!stream_)
            ::_close(descriptor);
        return stream_ != nullptr;
    }
#endif
    std::FILE* stream_ = nullptr;
};

} // namespace base
