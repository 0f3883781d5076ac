#include "framework/OwnerDrawListBox.h"

#include <vector>

std::string COwnerDrawListBox::GetText(int index) const {
    const LRESULT length = SendMessage(LB_GETTEXTLEN, index);
    if (length == LB_ERR || length <= 0)
        return {};
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const LRESULT copied = SendMessage(LB_GETTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == LB_ERR || copied <= 0)
        return {};
    return std::string(buffer.data(), static_cast<size_t>(copied));
}
