#include "tools/Pack.h"

#include <iostream>

#ifdef _WIN32
#include "win32/Handles.h"
#include "win32/WideText.h"

#include <shellapi.h>

// The arguments as Windows holds them, in UTF-16, taken as UTF-8: a folder or file named in any
// script reaches pack intact (the narrow arguments would be in the ANSI code page).
int main() {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const ScopedLocalMemory owner(wide);
    std::vector<std::string> args;
    for (int at = 1; wide && at < count; ++at)
        args.push_back(base::Utf8(wide[at]));
    return pack::Run(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    return pack::Run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
#endif
