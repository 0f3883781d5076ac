// STATE_COPY_PAYLOAD: copies the payload (and the 20 trailer bytes after it) out of the
// program's own file into <installFolder>\FARROWPK.EXE, with byte progress.
#include "install/InstallEngine.h"

#include "image/ImageTrailer.h"
#include "install/InstallTexts.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t kCopyBlock = 64 * 1024;

std::int64_t StreamLength(FILE* stream) {
    const std::int64_t saved = _ftelli64(stream);
    if (_fseeki64(stream, 0, SEEK_END) != 0)
        return -1;
    const std::int64_t length = _ftelli64(stream);
    _fseeki64(stream, saved, SEEK_SET);
    return length;
}

// The payload length from the image's last four bytes, or -1 when they cannot be read.
std::int64_t ReadPayloadLength(FILE* stream, std::int64_t imageLength) {
    unsigned char field[4];
    if (imageLength < 4 || _fseeki64(stream, imageLength - 4, SEEK_SET) != 0 ||
        std::fread(field, 1, sizeof field, stream) != sizeof field)
        return -1;
    return image::LengthFromField(field);
}

} // namespace

void InstallEngine::CopyPayload() {
    view.AddMessage(texts::kCopying, kColorProgress);
    sourcePath = modulePath;
    archivePath = installFolder + "\\" + archiveBaseName + ".EXE";

    ScopedFile input(std::fopen(sourcePath.c_str(), "rb"));
    if (!input) {
        view.AddMessage(texts::CannotOpenImageLine(sourcePath), kColorError);
        InstallState = STATE_FAILURE;
        return;
    }

    // A length field that does not fit the file would copy something that is not the payload.
    const std::int64_t length = StreamLength(input.Get());
    const std::int64_t payload = ReadPayloadLength(input.Get(), length);
    if (!image::PayloadFits(payload, length)) {
        view.AddMessage(texts::NoValidPayloadLine(sourcePath), kColorError);
        InstallState = STATE_FAILURE;
        return;
    }
    imageLength = length;
    payloadLength = static_cast<std::int32_t>(payload);

    ScopedFile output(std::fopen(archivePath.c_str(), "wb"));
    if (!output) {
        input.Reset();
        view.AddMessage(texts::kCannotCreateArchive, kColorError);
        InstallState = STATE_FAILURE;
        return;
    }

    const std::int64_t start = imageLength - payloadLength - image::kTrailerSize;
    const std::int64_t total = std::int64_t{payloadLength} + image::kTrailerSize;
    texts::CopyProgress progress(payloadLength);
    view.SetProgressRange(progress.RangeMaximum());

    bool readFailed = _fseeki64(input.Get(), start, SEEK_SET) != 0;
    bool writeFailed = false;
    std::vector<char> block(kCopyBlock);
    std::int64_t counter = 0;
    while (!readFailed && !writeFailed && counter < total) {
        const size_t wanted =
            static_cast<size_t>(std::min<std::int64_t>(kCopyBlock, total - counter));
        const size_t got = std::fread(block.data(), 1, wanted, input.Get());
        readFailed = got != wanted;
        writeFailed = std::fwrite(block.data(), 1, got, output.Get()) != got;
        progress.Advance(counter, counter + static_cast<std::int64_t>(got),
                         [this](int position) { view.SetProgressPos(position); });
        counter += static_cast<std::int64_t>(got);
    }
    input.Reset();
    // A full disk often shows only when the last buffered block is written out at the close.
    if (std::fclose(output.Release()) != 0)
        writeFailed = true;
    view.SetProgressPos(0);

    if (readFailed || writeFailed) {
        view.AddMessage(readFailed ? texts::NoValidPayloadLine(sourcePath)
                                   : texts::CannotWriteArchiveLine(archivePath),
                        kColorError);
        InstallState = STATE_FAILURE;
        return;
    }
    InstallState = STATE_EXPAND;
}
