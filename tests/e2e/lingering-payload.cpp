// A payload that keeps the archive contract and then does not end: it writes the three component
// flag files and, last, the completion flag into its working directory, then stays running until
// someone ends it. The setup must terminate it once it has seen the completion flag. It gives up
// by itself after ten minutes, so that a broken run cannot leave it behind for good.
#include "win32/Handles.h"

#include <windows.h>

namespace {

bool writeSmallFile(const char* path) {
    ScopedFileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), "1.0\n", 4, &written, nullptr) && written == 4;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* const flags[] = {"torvane.flg", "pellisar.flg", "dromlet.flg"};
    for (const char* flag : flags)
        if (!writeSmallFile(flag))
            return 2;
    CreateDirectoryA("ZZZ", nullptr);
    if (!writeSmallFile("ZZZ\\comp.flg"))
        return 2;
    Sleep(10 * 60 * 1000);
    return 0;
}
