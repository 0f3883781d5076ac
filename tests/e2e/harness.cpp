#include "harness.h"

#include "../windows/UnixLinks.h"

#include <commctrl.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <thread>

namespace e2e {
namespace {

// Cross-process messages get a time limit, so that a hung setup fails a test instead of
// hanging it.
constexpr UINT kSendLimitMs = 10000;

std::wstring widen(const std::string& text) {
    if (text.empty())
        return {};
    int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string narrow(const std::wstring& wide) {
    if (wide.empty())
        return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        nullptr, nullptr);
    return text;
}

std::string windowTitle(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring title(static_cast<size_t>(length) + 1, L'\0');
    int copied = GetWindowTextW(window, title.data(), length + 1);
    title.resize(static_cast<size_t>(std::max(copied, 0)));
    return narrow(title);
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool equalNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// Releases a window device context, a memory DC or a GDI object when it goes.
struct WindowDc {
    HWND window;
    HDC dc;
    explicit WindowDc(HWND w) : window(w), dc(GetDC(w)) {}
    ~WindowDc() {
        if (dc)
            ReleaseDC(window, dc);
    }
};
struct MemoryDc {
    HDC dc;
    explicit MemoryDc(HDC compatible) : dc(CreateCompatibleDC(compatible)) {}
    ~MemoryDc() {
        if (dc)
            DeleteDC(dc);
    }
};
struct GdiObject {
    HGDIOBJ object;
    explicit GdiObject(HGDIOBJ o) : object(o) {}
    ~GdiObject() {
        if (object)
            DeleteObject(object);
    }
};
struct Selection {
    HDC dc;
    HGDIOBJ previous;
    Selection(HDC d, HGDIOBJ o) : dc(d), previous(SelectObject(d, o)) {}
    ~Selection() { SelectObject(dc, previous); }
};

void appendChunk(std::string& png, const char* type, const std::string& data) {
    auto appendBigEndian = [&png](std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            png.push_back(static_cast<char>((value >> shift) & 0xFF));
    };
    appendBigEndian(static_cast<std::uint32_t>(data.size()));
    std::string typed = std::string(type, 4) + data;
    png += typed;
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
    appendBigEndian(static_cast<std::uint32_t>(crc));
}

} // namespace

std::string colorName(std::uint32_t color) {
    switch (color) {
    case color::kBlack:
        return "black";
    case color::kOlive:
        return "olive";
    case color::kRed:
        return "red";
    case color::kNavy:
        return "navy";
    case color::kGreenEmphasis:
        return "green*";
    case color::kRedEmphasis:
        return "red*";
    case color::kLogDetail:
        return "detail";
    default: {
        char buffer[16];
        wsprintfA(buffer, "0x%08lX", static_cast<unsigned long>(color));
        return buffer;
    }
    }
}

std::string describe(const std::vector<Line>& lines) {
    std::string text;
    for (const Line& line : lines)
        text += "  [" + colorName(line.color) + "] \"" + line.text + "\"\n";
    return text.empty() ? "  (no lines)\n" : text;
}

// --- Process -----------------------------------------------------------------------------------

bool startInJob(const char* program, const std::string& commandLine,
                const std::string& workingFolder, STARTUPINFOA startup, DWORD creationFlags,
                ScopedHandle& job, ScopedHandle& process, DWORD& id, std::string& error) {
    job.Reset(CreateJobObjectA(nullptr, nullptr));
    if (job.IsValid()) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                sizeof limits);
    }
    std::wstring writable = widen(commandLine);
    const std::wstring programPath = program ? widen(program) : std::wstring();
    const std::wstring folder = widen(workingFolder);
    STARTUPINFOW wideStartup = {};
    wideStartup.cb = sizeof wideStartup;
    wideStartup.dwFlags = startup.dwFlags;
    wideStartup.wShowWindow = startup.wShowWindow;
    PROCESS_INFORMATION info = {};
    const auto create = [&] {
        return CreateProcessW(program ? programPath.c_str() : nullptr, writable.data(), nullptr,
                              nullptr, FALSE, creationFlags | CREATE_SUSPENDED, nullptr,
                              folder.empty() ? nullptr : folder.c_str(), &wideStartup, &info);
    };
    // Wine now and then refuses a start with ERROR_INTERNAL_ERROR (once in many e2e runs here);
    // a second try a moment later starts the program.
    BOOL started = create();
    for (int retry = 0; !started && GetLastError() == ERROR_INTERNAL_ERROR && retry < 3; ++retry) {
        Sleep(200);
        started = create();
    }
    if (!started) {
        error = "cannot start " + commandLine + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    process.Reset(info.hProcess);
    ScopedHandle thread(info.hThread);
    id = info.dwProcessId;
    // Without a job (it may be refused) the program is still ended directly.
    if (job.IsValid() && !AssignProcessToJobObject(job.Get(), process.Get()))
        job.Reset();
    ResumeThread(thread.Get());
    return true;
}

bool Process::start(const std::string& program, const std::string& arguments,
                    const std::string& workingFolder, std::string* error) {
    kill();
    std::string commandLine = "\"" + program + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    std::string failure;
    if (startInJob(program.c_str(), commandLine, workingFolder, {}, 0, job_, process_, id_,
                   failure))
        return true;
    if (error)
        *error = failure;
    return false;
}

bool Process::running() const {
    return process_.IsValid() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

bool Process::waitForExit(std::chrono::milliseconds limit) const {
    if (!process_.IsValid())
        return true;
    return WaitForSingleObject(process_.Get(), static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
}

std::optional<DWORD> Process::exitCode() const {
    DWORD code = 0;
    if (!process_.IsValid() || !GetExitCodeProcess(process_.Get(), &code) || code == STILL_ACTIVE)
        return std::nullopt;
    return code;
}

void endInJob(ScopedHandle& job, const ScopedHandle& process) {
    if (job.IsValid())
        TerminateJobObject(job.Get(), 1);
    if (process.IsValid() && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), 5000);
    }
    job.Reset();
}

void Process::kill() {
    endInJob(job_, process_);
    process_.Reset();
    id_ = 0;
}

// --- SetupWindow -------------------------------------------------------------------------------

namespace {
struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK visitWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    if (!startsWith(windowTitle(window), kTitlePrefix))
        return TRUE;
    search->found = window;
    return FALSE;
}
} // namespace

std::optional<SetupWindow> SetupWindow::find(DWORD processId, std::chrono::milliseconds limit) {
    WindowSearch search = {processId, nullptr};
    const auto deadline = Clock::now() + limit;
    do {
        search.found = nullptr;
        EnumWindows(visitWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return SetupWindow(search.found);
        std::this_thread::sleep_for(50ms);
    } while (Clock::now() < deadline);
    return std::nullopt;
}

LRESULT SetupWindow::send(UINT message, WPARAM wParam, LPARAM lParam, int id) const {
    HWND target = id == 0 ? window_ : item(id);
    DWORD_PTR result = 0;
    if (!target ||
        !SendMessageTimeoutW(target, message, wParam, lParam, SMTO_NORMAL, kSendLimitMs, &result))
        return -1;
    return static_cast<LRESULT>(result);
}

std::string SetupWindow::title() const {
    return windowTitle(window_);
}

bool SetupWindow::enabled(int id) const {
    HWND control = item(id);
    return control && IsWindowEnabled(control);
}

bool SetupWindow::visible(int id) const {
    HWND control = item(id);
    return control && IsWindowVisible(control);
}

bool SetupWindow::checked(int id) const {
    return send(BM_GETCHECK, 0, 0, id) == BST_CHECKED;
}

std::string SetupWindow::text(int id) const {
    LRESULT length = send(WM_GETTEXTLENGTH, 0, 0, id);
    if (length <= 0)
        return {};
    std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = send(WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), id);
    buffer.resize(static_cast<size_t>(std::max<LRESULT>(copied, 0)));
    return narrow(buffer);
}

bool SetupWindow::setText(int id, const std::string& text) const {
    return setText(id, widen(text));
}

bool SetupWindow::setText(int id, const std::wstring& text) const {
    return send(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), id) == TRUE;
}

bool SetupWindow::click(int id) const {
    if (!enabled(id))
        return false;
    HWND control = item(id);
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, kSendLimitMs, &result) != 0;
}

std::vector<Line> SetupWindow::lines() const {
    std::vector<Line> lines;
    LRESULT count = send(LB_GETCOUNT, 0, 0, control::kMessages);
    for (LRESULT index = 0; index < count; ++index) {
        LRESULT length = send(LB_GETTEXTLEN, index, 0, control::kMessages);
        Line line;
        if (length > 0) {
            std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
            LRESULT copied = send(LB_GETTEXT, index, reinterpret_cast<LPARAM>(buffer.data()),
                                  control::kMessages);
            buffer.resize(static_cast<size_t>(std::max<LRESULT>(copied, 0)));
            line.text = narrow(buffer);
        }
        line.color = static_cast<std::uint32_t>(send(LB_GETITEMDATA, index, 0, control::kMessages));
        lines.push_back(std::move(line));
    }
    return lines;
}

int SetupWindow::progressPosition() const {
    return static_cast<int>(send(PBM_GETPOS, 0, 0, control::kProgress));
}

std::pair<int, int> SetupWindow::progressRange() const {
    return {static_cast<int>(send(PBM_GETRANGE, TRUE, 0, control::kProgress)),
            static_cast<int>(send(PBM_GETRANGE, FALSE, 0, control::kProgress))};
}

bool SetupWindow::waitForLine(const std::string& text, std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        for (const Line& line : lines())
            if (line.text == text)
                return true;
        if (Clock::now() >= deadline || !exists())
            return false;
        std::this_thread::sleep_for(50ms);
    }
}

bool SetupWindow::waitForEnd(std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        std::vector<Line> now = lines();
        if (!now.empty() && (now.back().text == kSuccessLine || now.back().text == kFailureLine))
            return true;
        if (Clock::now() >= deadline || !exists())
            return false;
        std::this_thread::sleep_for(50ms);
    }
}

void SetupWindow::repaint() const {
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // Another process paints; give it time to get to it.
    std::this_thread::sleep_for(400ms);
}

// --- Files -------------------------------------------------------------------------------------

std::string windowsPath(const std::string& path) {
    std::string result = path;
    std::replace(result.begin(), result.end(), '/', '\\');
    if (!path.empty() && path[0] == '/')
        result = "Z:" + result;
    return result;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '\\')
        return folder + name;
    return folder + "\\" + name;
}

bool fileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const std::string& path) {
    DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::string> readFile(const std::string& path) {
    ScopedFileHandle file(CreateFileW(widen(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return std::nullopt;
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        content.append(buffer, got);
    return content;
}

std::uint32_t payloadLengthOf(const std::string& image) {
    ScopedFileHandle file(CreateFileW(widen(image).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::uint32_t length = 0;
    DWORD got = 0;
    if (!file.IsValid() ||
        SetFilePointer(file.Get(), -4, nullptr, FILE_END) == INVALID_SET_FILE_POINTER ||
        !ReadFile(file.Get(), &length, 4, &got, nullptr) || got != 4)
        return 0;
    return length;
}

bool writeFile(const std::string& path, const std::string& content) {
    ScopedFileHandle file(CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    DWORD written = 0;
    return WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written,
                     nullptr) &&
           written == content.size();
}

bool createFolders(const std::string& path) {
    for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
        std::string part = path.substr(0, at);
        if (!part.empty() && part.back() != ':')
            CreateDirectoryW(widen(part).c_str(), nullptr);
    }
    CreateDirectoryW(widen(path).c_str(), nullptr);
    return folderExists(path);
}

bool removeTree(const std::string& path) {
    return removeTree(widen(path));
}

bool removeTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    // A link a case planted: it goes, and what it leads to stays.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return unixlinks::RemoveLink(path);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    }
    WIN32_FIND_DATAW found;
    {
        ScopedFind search(FindFirstFileW((path + L"\\*").c_str(), &found));
        if (search) {
            do {
                if (std::wcscmp(found.cFileName, L".") != 0 &&
                    std::wcscmp(found.cFileName, L"..") != 0)
                    removeTree(path + L"\\" + found.cFileName);
            } while (FindNextFileW(search.Get(), &found));
        }
    }
    RemoveDirectoryW(path.c_str());
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

namespace {
void collectTree(const std::string& folder, const std::string& prefix,
                 std::vector<std::string>& out) {
    WIN32_FIND_DATAW found;
    ScopedFind search(FindFirstFileW(widen(joinPath(folder, "*")).c_str(), &found));
    if (!search)
        return;
    do {
        std::string name = narrow(found.cFileName);
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(prefix + name + "\\");
            collectTree(joinPath(folder, name), prefix + name + "\\", out);
        } else {
            out.push_back(prefix + name);
        }
    } while (FindNextFileW(search.Get(), &found));
}
} // namespace

std::vector<std::string> listTree(const std::string& folder) {
    std::vector<std::string> entries;
    collectTree(folder, "", entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::string specialFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, buffer)))
        return {};
    return narrow(buffer);
}

bool processRunning(const std::string& exeName) {
    // Its failure value is INVALID_HANDLE_VALUE, as for a file.
    ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid())
        return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more;
         more = Process32Next(snapshot.Get(), &entry)) {
        std::string name = entry.szExeFile;
        size_t slash = name.find_last_of("\\/");
        if (slash != std::string::npos)
            name = name.substr(slash + 1);
        if (equalNoCase(name, exeName))
            return true;
    }
    return false;
}

std::optional<Shortcut> readShortcut(const std::string& linkPath) {
    return readShortcut(widen(linkPath));
}

std::optional<Shortcut> readShortcut(const std::wstring& linkPath) {
    DWORD attributes = GetFileAttributesW(linkPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return ReadShortcutFile(linkPath);
}

// --- Screenshot --------------------------------------------------------------------------------

std::string encodePng(const Picture& picture) {
    // Every row starts with its filter type byte: 0, no filtering.
    const size_t rowBytes = static_cast<size_t>(picture.width) * 3;
    std::string raw;
    raw.reserve((rowBytes + 1) * static_cast<size_t>(picture.height));
    for (int y = 0; y < picture.height; ++y) {
        raw.push_back('\0');
        raw.append(reinterpret_cast<const char*>(picture.rgb.data()) +
                       rowBytes * static_cast<size_t>(y),
                   rowBytes);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        return {};
    packed.resize(packedSize);

    std::string header;
    for (int value : {picture.width, picture.height})
        for (int shift = 24; shift >= 0; shift -= 8)
            header.push_back(
                static_cast<char>((static_cast<std::uint32_t>(value) >> shift) & 0xFF));
    // 8 bits a sample, RGB, deflate, adaptive filtering, no interlace.
    header += std::string("\x08\x02\x00\x00\x00", 5);

    std::string png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", {});
    return png;
}

int Picture::count(COLORREF color, const RECT& area) const {
    int found = 0;
    for (int y = std::max<int>(area.top, top); y < std::min<int>(area.bottom, top + height); ++y)
        for (int x = std::max<int>(area.left, left); x < std::min<int>(area.right, left + width);
             ++x) {
            const std::uint8_t* pixel =
                &rgb[(static_cast<size_t>(y - top) * static_cast<size_t>(width) +
                      static_cast<size_t>(x - left)) *
                     3];
            if (pixel[0] == GetRValue(color) && pixel[1] == GetGValue(color) &&
                pixel[2] == GetBValue(color))
                ++found;
        }
    return found;
}

std::optional<Picture> captureWindow(HWND window, std::string* error) {
    auto fail = [error](const std::string& why) -> std::optional<Picture> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    RECT area;
    if (!GetWindowRect(window, &area))
        return fail("the window is gone");
    Picture picture;
    picture.left = std::max<int>(area.left, 0);
    picture.top = std::max<int>(area.top, 0);
    picture.width = std::min<int>(area.right, GetSystemMetrics(SM_CXSCREEN)) - picture.left;
    picture.height = std::min<int>(area.bottom, GetSystemMetrics(SM_CYSCREEN)) - picture.top;
    if (picture.width <= 0 || picture.height <= 0)
        return fail("the window is off the screen");

    WindowDc screen(nullptr);
    MemoryDc memory(screen.dc);
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = picture.width;
    format.bmiHeader.biHeight = -picture.height; // rows top to bottom
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    GdiObject bitmap(CreateDIBSection(screen.dc, &format, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!screen.dc || !memory.dc || !bitmap.object || !bits)
        return fail("no device context or bitmap for the screenshot");
    {
        Selection selected(memory.dc, bitmap.object);
        if (!BitBlt(memory.dc, 0, 0, picture.width, picture.height, screen.dc, picture.left,
                    picture.top, SRCCOPY | CAPTUREBLT))
            return fail("BitBlt from the screen failed");
        GdiFlush();
    }
    const size_t pixelCount =
        static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height);
    picture.rgb.resize(pixelCount * 3);
    const auto* pixels = static_cast<const std::uint8_t*>(bits); // blue, green, red, unused
    for (size_t i = 0; i < pixelCount; ++i) {
        picture.rgb[i * 3] = pixels[i * 4 + 2];
        picture.rgb[i * 3 + 1] = pixels[i * 4 + 1];
        picture.rgb[i * 3 + 2] = pixels[i * 4];
    }
    return picture;
}

bool saveScreenshot(HWND window, const std::string& pngPath, std::string* error) {
    std::optional<Picture> picture = captureWindow(window, error);
    if (!picture)
        return false;
    std::string png = encodePng(*picture);
    if (png.empty() || !writeFile(pngPath, png)) {
        if (error)
            *error = "cannot write " + pngPath;
        return false;
    }
    return true;
}

} // namespace e2e
