#include "ui/MessageListBox.h"

#include "ui/MessageLayout.h"
#include "win32/Handles.h"

#include <utility>

void CMessageListBox::AddColoredLine(std::string text, DWORD data) {
    const int index = AddString(text);
    if (index != LB_ERR)
        SetItemData(index, data);
}

void CMessageListBox::AddMessage(std::string text, MessageColor color) {
    AddColoredLine(std::move(text), color);
    // Selecting the last line scrolls it into view; the selection is removed again at once.
    SetCurSel(GetCount() - 1);
    SetCurSel(-1);
    if (GetCount() > kMaxLines)
        DeleteString(0);
}

void CMessageListBox::MeasureItem(MEASUREITEMSTRUCT* request) {
    ScopedClientDC dc(m_hWnd);
    TEXTMETRICW metrics{};
    {
        ScopedSelectObject font(dc.Get(), reinterpret_cast<HGDIOBJ>(SendMessage(WM_GETFONT)));
        ::GetTextMetricsW(dc.Get(), &metrics);
    }
    request->itemHeight = static_cast<UINT>(metrics.tmHeight + 1);
}

void CMessageListBox::DrawItem(DRAWITEMSTRUCT* request) {
    const HDC dc = request->hDC;
    const RECT& item = request->rcItem;
    const COLORREF background =
        ::GetSysColor((request->itemState & ODS_SELECTED) ? COLOR_HIGHLIGHT : COLOR_WINDOW);
    ScopedGdiObject<HBRUSH> brush(::CreateSolidBrush(background));
    ::FillRect(dc, &item, brush.Get());
    if (static_cast<int>(request->itemID) == -1)
        return;

    const int index = static_cast<int>(request->itemID);
    const auto color = static_cast<MessageColor>(GetItemData(index));
    const std::wstring text = GetText(index);
    const COLORREF textColor = TextColorOf(color);
    ::SetBkColor(dc, background);
    ::SetTextColor(dc, textColor);

    SIZE extent{};
    if (IsEmphasised(color))
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    const MessageLineLayout layout = LayoutMessageLine(item.left, item.top, color, extent.cx);
    ::TextOutW(dc, layout.textX, layout.textY, text.c_str(), static_cast<int>(text.size()));
    if (!layout.emphasised)
        return;

    // A 5-pixel pen around a 5 by 5 box fills it: each mark shows as a solid dot.
    ScopedGdiObject<HPEN> pen(::CreatePen(PS_SOLID, 5, textColor));
    ScopedSelectObject selectedPen(dc, pen.Get());
    for (const DotBox& dot : {layout.leadingDot, layout.trailingDot})
        ::Ellipse(dc, dot.left, dot.top, dot.right, dot.bottom);
}
