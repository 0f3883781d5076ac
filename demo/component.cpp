// One small component program of the demo suite. Built three times, once per component, with
// COMPONENT_NAME set to the component's name: a window that names itself and shows the folder it
// was started in, so that a shortcut's working directory can be seen at a glance.
#include <windows.h>

#ifndef COMPONENT_NAME
#error "COMPONENT_NAME must name the component"
#endif

namespace {

const char* const kClassName = "TorvaneDemoComponent";

void paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    SetBkMode(dc, TRANSPARENT);

    HFONT bigFont =
        CreateFontA(-28, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
    HGDIOBJ previousFont = SelectObject(dc, bigFont);
    RECT titleArea = {area.left, area.top + 16, area.right, area.top + 56};
    DrawTextA(dc, COMPONENT_NAME, -1, &titleArea, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
    SelectObject(dc, previousFont);
    DeleteObject(bigFont);

    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    char folder[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH)
        folder[0] = '\0';
    char lines[MAX_PATH + 64];
    wsprintfA(lines, "Part of the Torvane Software Suite\nStarted in %s", folder);
    RECT textArea = {area.left + 8, area.top + 64, area.right - 8, area.bottom - 8};
    DrawTextA(dc, lines, -1, &textArea, DT_CENTER | DT_WORDBREAK);
    EndPaint(window, &paint);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass))
        return 1;

    HWND window = CreateWindowExA(0, kClassName, COMPONENT_NAME, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 380, 170, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
