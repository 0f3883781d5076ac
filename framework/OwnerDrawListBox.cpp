#include "framework/OwnerDrawListBox.h"

#include "win32/WideText.h"

#include <vector>

int COwnerDrawListBox::AddString(const std::string& text) const {
    const std::wstring wide = base::WideForDisplay(text);
    return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str())));
}

std::wstring COwnerDrawListBox::GetText(int index) const {
    const LRESULT length = SendMessage(LB_GETTEXTLEN, index);
    if (length == LB_ERR || length <= 0)
        return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const LRESULT copied = SendMessage(LB_GETTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == LB_ERR || copied <= 0)
        return {};
    return std::wstring(buffer.data(), static_cast<size_t>(copied));
}
