// A payload that unpacks slowly, as a large suite does on a slow disk or under a virus scanner:
// it keeps the archive contract and publishes its progress as sfx.exe does, in the block the
// setup made for it (payload/UnpackProgress.h), getting on by one small file every 100 ms for
// 25 s, past the setup's 200 looks; then it writes the component flags and, last, the
// completion flag, and ends. Built with STALLS, it gets on for 2 s and then no more, and never
// writes its flag: the setup must time it out. Either gives up by itself after ten minutes, so
// that a broken run cannot leave it behind for good.
#include "payload/UnpackProgress.h"
#include "win32/Handles.h"

#include <windows.h>

#include <string>

namespace {

#ifdef STALLS
constexpr int kSteps = 20;
#else
constexpr int kSteps = 250;
#endif
constexpr DWORD kStepMilliseconds = 100;

bool writeSmallFile(const std::string& path) {
    ScopedFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), "1.0\n", 4, &written, nullptr) && written == 4;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string name = unpack::ProgressBlockName(GetCurrentProcessId());
    ScopedHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            unpack::kProgressBlockSize, name.c_str()));
    ScopedMappedView view(
        mapping ? MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, unpack::kProgressBlockSize)
                : nullptr);
    if (!view)
        return 2;
    auto* block = static_cast<volatile unpack::ProgressBlock*>(view.Get());
    block->totalKiB = kSteps + 4;
    block->blockSize = unpack::kProgressBlockSize;

    CreateDirectoryA("Slow", nullptr);
    for (int step = 1; step <= kSteps; ++step) {
        Sleep(kStepMilliseconds);
        if (!writeSmallFile("Slow\\part" + std::to_string(step) + ".txt"))
            return 2;
        block->writtenKiB = static_cast<std::uint32_t>(step);
        block->entriesDone = static_cast<std::uint32_t>(step);
    }
#ifdef STALLS
    Sleep(10 * 60 * 1000);
    return 0;
#else
    for (const char* flag : {"torvane.flg", "pellisar.flg", "dromlet.flg"})
        if (!writeSmallFile(flag))
            return 2;
    CreateDirectoryA("ZZZ", nullptr);
    if (!writeSmallFile("ZZZ\\comp.flg"))
        return 2;
    block->writtenKiB = kSteps + 4;
    return 0;
#endif
}
