#include "framework/Wnd.h"

#include <vector>

HWND CWnd::Detach() {
    HWND window = m_hWnd;
    m_hWnd = nullptr;
    return window;
}

namespace {

// A window's whole text through the A or the W calls.
template <class Char, class LengthCall, class TextCall>
std::basic_string<Char> WindowText(HWND window, LengthCall lengthOf, TextCall textOf) {
    const int length = lengthOf(window);
    if (length <= 0)
        return {};
    std::vector<Char> buffer(static_cast<size_t>(length) + 1);
    const int copied = textOf(window, buffer.data(), length + 1);
    return std::basic_string<Char>(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

} // namespace

std::string CWnd::GetWindowText() const {
    return WindowText<char>(m_hWnd, ::GetWindowTextLengthA, ::GetWindowTextA);
}

std::wstring CWnd::GetWideWindowText() const {
    return WindowText<wchar_t>(m_hWnd, ::GetWindowTextLengthW, ::GetWindowTextW);
}
