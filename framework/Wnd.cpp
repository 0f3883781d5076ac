#include "framework/Wnd.h"

#include "win32/WideText.h"

#include <vector>

HWND CWnd::Detach() {
    HWND window = m_hWnd;
    m_hWnd = nullptr;
    return window;
}

void CWnd::SetWindowText(const std::string& text) const {
    ::SetWindowTextW(m_hWnd, base::WideForDisplay(text).c_str());
}

std::wstring CWnd::GetWideWindowText() const {
    const int length = ::GetWindowTextLengthW(m_hWnd);
    if (length <= 0)
        return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
    return std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}
