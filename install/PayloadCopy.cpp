// STATE_COPY_PAYLOAD: copies the payload (and the 20 trailer bytes after it) out of the
// program's own file into <installFolder>\FARROWPK.EXE, with byte progress.
#include "install/InstallEngine.h"

#include "image/ImageFile.h"
#include "image/ImageTrailer.h"
#include "install/InstallTexts.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t kCopyBlock = 64 * 1024;

} // namespace

void InstallEngine::CopyPayload() {
    view.AddMessage(texts::kCopying, kColorProgress);
    sourcePath = modulePath;
    archivePath = installFolder + "\\" + archiveBaseName + ".EXE";

    base::BinaryFile input;
    if (!input.Open(sourcePath, "rb")) {
        view.AddMessage(texts::CannotOpenImageLine(sourcePath), kColorError);
        InstallState = STATE_FAILURE;
        return;
    }

    // A length field that does not fit the image would copy something that is not the payload.
    // A signed image ends where its certificate table starts.
    image::ImageLayout layout;
    std::string ignored;
    if (!image::ReadImageLayout(input, layout, ignored) || !layout.payloadFits) {
        view.AddMessage(texts::NoValidPayloadLine(sourcePath), kColorError);
        InstallState = STATE_FAILURE;
        return;
    }
    imageLength = layout.imageLength;
    payloadLength = layout.payloadLength;

    ScopedFile output(std::fopen(archivePath.c_str(), "wb"));
    if (!output) {
        input.Close();
        view.AddMessage(texts::kCannotCreateArchive, kColorError);
        InstallState = STATE_FAILURE;
        return;
    }

    const std::int64_t start = layout.payloadOffset;
    const std::int64_t total = std::int64_t{payloadLength} + image::kTrailerSize;
    texts::CopyProgress progress(payloadLength);
    view.SetProgressRange(progress.RangeMaximum());

    bool readFailed = !input.Seek(start);
    bool writeFailed = false;
    std::vector<char> block(kCopyBlock);
    std::int64_t counter = 0;
    while (!readFailed && !writeFailed && counter < total) {
        const size_t wanted =
            static_cast<size_t>(std::min<std::int64_t>(kCopyBlock, total - counter));
        const size_t got = input.Read(block.data(), wanted);
        readFailed = got != wanted;
        writeFailed = std::fwrite(block.data(), 1, got, output.Get()) != got;
        progress.Advance(counter, counter + static_cast<std::int64_t>(got),
                         [this](int position) { view.SetProgressPos(position); });
        counter += static_cast<std::int64_t>(got);
    }
    input.Close();
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
