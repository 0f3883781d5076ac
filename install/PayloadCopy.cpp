// State 20's work: copies the payload (and the 20 trailer bytes after it) out of the program's
// own file into <installFolder>\FARROWPK.EXE, with byte progress.
#include "install/StateWork.h"

#include "image/ImageFile.h"
#include "image/ImageTrailer.h"
#include "install/InstallRecordFile.h"
#include "install/InstallTexts.h"
#include "install/Progress.h"
#include "payload/UnpackProgress.h"
#include "win32/NoFollowWin32.h"
#include "win32/WideText.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Large blocks: each read and write is a system call of its own (README, Benchmarks).
constexpr size_t kCopyBlock = 1024 * 1024;

// The copy opened for reading, others allowed only to read it too; invalid when that is refused.
ScopedFileHandle OpenForReadingOnly(const std::string& path) {
    return ScopedFileHandle(::CreateFileW(base::Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
}

// The image opened for reading as the C runtime opens a stream with "rb": others may read and
// write it, and nobody may rename or delete it while it is open.
ScopedFileHandle OpenImage(const std::string& path) {
    return ScopedFileHandle(::CreateFileW(base::Wide(path).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A C runtime descriptor of a duplicate of `file` (the same open file, and its position), for
// the portable readers; -1 when there is none.
int DescriptorOf(HANDLE file) {
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), &duplicate, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return -1;
    ScopedFileHandle owned(duplicate);
    const int descriptor =
        ::_open_osfhandle(reinterpret_cast<intptr_t>(owned.Get()), _O_RDONLY | _O_BINARY);
    if (descriptor >= 0)
        owned.Release(); // the descriptor owns it now
    return descriptor;
}

// Whether `opened` is the file `written` was, by volume and file index, and has that one name.
bool IsTheFileWritten(const BY_HANDLE_FILE_INFORMATION& written, HANDLE opened) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(opened, &info) &&
           info.dwVolumeSerialNumber == written.dwVolumeSerialNumber &&
           info.nFileIndexHigh == written.nFileIndexHigh &&
           info.nFileIndexLow == written.nFileIndexLow && info.nNumberOfLinks == 1 &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Sets or clears the delete-on-close mark of an open file.
bool MarkForDeletion(HANDLE file, bool deleteIt) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = deleteIt ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition);
}

// Whether the payload's program is sfx.exe, which publishes its progress and tells its outcome
// by its exit code: its code holds the name of the progress block. Only the program's own bytes
// (headers and sections) are searched, not the archive behind it, which may hold anything.
bool IsProgressPublishingStub(base::BinaryFile& input, const image::ImageLayout& layout) {
    image::ProgramHeaders headers;
    if (!image::ReadProgramHeaders(input, layout.payloadOffset, layout.payloadLength, headers) ||
        headers.end <= 0 || headers.end > layout.payloadLength || headers.end > (16 << 20) ||
        !input.Seek(layout.payloadOffset))
        return false;
    std::string program(static_cast<size_t>(headers.end), '\0');
    return input.Read(program.data(), program.size()) == program.size() &&
           program.find(unpack::kProgressBlockPrefix) != std::string::npos;
}

} // namespace

PayloadCopied CopyPayloadFile(const std::string& sourcePath, const std::string& archivePath,
                              IInstallView& view) {
    PayloadCopied outcome;
    // The image is opened once: its bytes are copied through the handle, as they are written,
    // and its layout is read by the portable readers through a stream on the same open file.
    ScopedFileHandle source = OpenImage(sourcePath);
    base::BinaryFile input;
    if (!source || !input.ReadFromDescriptor(DescriptorOf(source.Get()))) {
        ReportFailedCall(view, kColorError, static_cast<long>(::GetLastError()),
                         texts::CannotOpenImageLine(sourcePath));
        outcome.failure = setup::kExitImage;
        return outcome;
    }

    // A length field that does not fit the image would copy something that is not the payload.
    // A signed image ends where its certificate table starts.
    image::ImageLayout layout;
    std::string ignored;
    const bool read = image::ReadImageLayout(input, layout, ignored) && layout.payloadFits;
    // Nor can a payload start inside the program in front of it: the last bytes of a bare
    // program, taken for a trailer, may hold any length.
    image::ProgramHeaders program;
    if (!read || (image::ReadProgramHeaders(input, 0, layout.imageLength, program) &&
                  program.end > layout.payloadOffset)) {
        view.AddMessage(texts::NoValidPayloadLine(sourcePath), kColorError);
        outcome.failure = setup::kExitImage;
        return outcome;
    }
    outcome.imageLength = layout.imageLength;
    outcome.payloadLength = layout.payloadLength;
    outcome.payloadOffset = layout.payloadOffset;
    outcome.publishesProgress = IsProgressPublishingStub(input, layout);
    input.Close();

    // An older copy is replaced by a new file rather than written over: the setup runs elevated
    // and the folder may be writable by others, so the name may be a link to some other file,
    // which writing over would change; removing takes only the name. Nobody else may write the
    // copy while it is being written, and nobody but SYSTEM and the Administrators ever after
    // (ProtectedFileSecurity).
    const std::wstring archiveName = base::Wide(archivePath);
    nofollow::RemoveFile(archiveName.c_str());
    ScopedLocalMemory security = ProtectedFileSecurity(false);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security.Get(), FALSE};
    ScopedFileHandle output;
    if (security)
        output.Reset(::CreateFileW(archiveName.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                   &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    // Marked for deletion until it is whole: a setup that ends meanwhile (Escape, killed) leaves
    // no copy behind, since the system deletes it with the last handle.
    if (output && !MarkForDeletion(output.Get(), true))
        output.Reset();
    if (!output) {
        const DWORD error = ::GetLastError();
        source.Reset();
        ReportFailedCall(view, kColorError, static_cast<long>(error), texts::kCannotCreateArchive);
        outcome.failure = setup::kExitCopy;
        return outcome;
    }

    const std::int64_t start = layout.payloadOffset;
    const std::int64_t total = std::int64_t{layout.payloadLength} + image::kTrailerSize;
    progress::CopyProgress progress(layout.payloadLength);
    view.SetProgressRange(progress.RangeMaximum());

    LARGE_INTEGER startAt{};
    startAt.QuadPart = start;
    bool readFailed = !::SetFilePointerEx(source.Get(), startAt, nullptr, FILE_BEGIN);
    bool writeFailed = false;
    // The failed call's code for the log; none when a check of ours failed.
    DWORD writeError = ERROR_SUCCESS;
    std::vector<char> block(kCopyBlock);
    std::int64_t counter = 0;
    while (!readFailed && !writeFailed && counter < total) {
        const size_t wanted =
            static_cast<size_t>(std::min<std::int64_t>(kCopyBlock, total - counter));
        DWORD got = 0;
        readFailed =
            !::ReadFile(source.Get(), block.data(), static_cast<DWORD>(wanted), &got, nullptr) ||
            got != wanted;
        DWORD written = 0;
        const bool wrote =
            ::WriteFile(output.Get(), block.data(), static_cast<DWORD>(got), &written, nullptr);
        if (!wrote)
            writeError = ::GetLastError();
        writeFailed = !wrote || written != got;
        progress.Advance(counter, counter + static_cast<std::int64_t>(got),
                         [&view](int position) { view.SetProgressPos(position); });
        counter += static_cast<std::int64_t>(got);
    }
    source.Reset();
    BY_HANDLE_FILE_INFORMATION written{};
    if (!::GetFileInformationByHandle(output.Get(), &written) ||
        (!readFailed && !writeFailed && !MarkForDeletion(output.Get(), false))) {
        if (!writeFailed)
            writeError = ::GetLastError();
        writeFailed = true;
    }
    output.Reset();
    bool lockFailed = false;
    if (!readFailed && !writeFailed) {
        outcome.lock = OpenForReadingOnly(archivePath);
        if (!outcome.lock)
            writeError = ::GetLastError();
        // Someone opened the copy for writing the moment it was closed, or put another file in
        // its place: what runs elevated must be the file written.
        lockFailed = !outcome.lock || !IsTheFileWritten(written, outcome.lock.Get());
        if (lockFailed)
            outcome.lock.Reset();
    }
    view.SetProgressPos(0);

    if (readFailed) {
        view.AddMessage(texts::NoValidPayloadLine(sourcePath), kColorError);
        outcome.failure = setup::kExitImage;
    } else if (writeFailed || lockFailed) {
        ReportFailedCall(view, kColorError, static_cast<long>(writeError),
                         texts::CannotWriteArchiveLine(archivePath));
        outcome.failure = setup::kExitCopy;
    }
    return outcome;
}
