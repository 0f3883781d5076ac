// The message list on a real owner-drawn list box: a parent window forwards the owner-draw
// requests to a CMessageListBox bound to a LISTBOX with the setup dialog's styles. Drawing is
// checked pixel by pixel in a memory device context.
#include "ui/MessageListBox.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr int kListId = 1003;
constexpr COLORREF kUntouched = RGB(255, 0, 255);
constexpr MessageColor kRed = 0x000000C0u;
constexpr MessageColor kRedEmphasised = 0x800000C0u;
constexpr MessageColor kGreenEmphasised = 0x80008000u;

HFONT CreateTestFont(int pixelHeight) {
    return ::CreateFontA(-pixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                         DEFAULT_PITCH, "Tahoma");
}

int FontHeight(HFONT font) {
    const HDC screen = ::GetDC(nullptr);
    const HGDIOBJ previous = ::SelectObject(screen, font);
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(screen, &metrics);
    ::SelectObject(screen, previous);
    ::ReleaseDC(nullptr, screen);
    return metrics.tmHeight;
}

// A 32-bit top-down bitmap in a memory device context, with direct access to its pixels.
class Canvas {
public:
    Canvas(int width, int height, HFONT font) : width_(width), height_(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = ::CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels_ = static_cast<std::uint32_t*>(bits);
        previousBitmap_ = ::SelectObject(dc_, bitmap_);
        previousFont_ = ::SelectObject(dc_, font);
        Fill(kUntouched);
    }
    ~Canvas() {
        ::SelectObject(dc_, previousFont_);
        ::SelectObject(dc_, previousBitmap_);
        ::DeleteObject(bitmap_);
        ::DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return dc_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

    void Fill(COLORREF color) {
        const std::uint32_t value =
            (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
        std::fill(pixels_, pixels_ + width_ * height_, value);
    }
    COLORREF Pixel(int x, int y) const {
        ::GdiFlush();
        const std::uint32_t value = pixels_[y * width_ + x];
        return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
    }
    std::vector<std::uint32_t> Pixels() const {
        ::GdiFlush();
        return std::vector<std::uint32_t>(pixels_, pixels_ + width_ * height_);
    }
    // The leftmost, then topmost pixel of `color` in the rectangle from column `fromX` on.
    POINT FirstInk(const RECT& area, COLORREF color, int fromX) const {
        POINT ink{-1, -1};
        for (int x = std::max<int>(area.left, fromX); x < area.right && ink.x < 0; ++x)
            for (int y = area.top; y < area.bottom; ++y)
                if (Pixel(x, y) == color) {
                    ink.x = x;
                    break;
                }
        for (int y = area.top; y < area.bottom && ink.y < 0; ++y)
            for (int x = std::max<int>(area.left, fromX); x < area.right; ++x)
                if (Pixel(x, y) == color) {
                    ink.y = y;
                    break;
                }
        return ink;
    }

private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    std::uint32_t* pixels_ = nullptr;
    HGDIOBJ previousBitmap_, previousFont_;
};

class MessageListTest : public testing::Test {
protected:
    MessageListTest() {
        static const ATOM parentClass = [] {
            WNDCLASSA windowClass{};
            windowClass.lpfnWndProc = ParentProcedure;
            windowClass.hInstance = ::GetModuleHandleA(nullptr);
            windowClass.lpszClassName = "TorvaneMessageListTestParent";
            windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            return ::RegisterClassA(&windowClass);
        }();
        parent =
            ::CreateWindowExA(0, MAKEINTATOM(parentClass), "Message list", WS_OVERLAPPEDWINDOW, 0,
                              0, 520, 240, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
        ::SetWindowLongPtrA(parent, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        // The setup dialog's list: owner-drawn, variable height, holding its strings as Unicode
        // text (the dialog is a Unicode window).
        listWindow = ::CreateWindowExW(0, L"LISTBOX", L"",
                                       WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP |
                                           LBS_NOTIFY | LBS_OWNERDRAWVARIABLE | LBS_HASSTRINGS |
                                           LBS_NOINTEGRALHEIGHT,
                                       10, 10, 480, 120, parent, reinterpret_cast<HMENU>(kListId),
                                       ::GetModuleHandleW(nullptr), nullptr);
        list.Attach(listWindow);
        ::SendMessageA(listWindow, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    void SetUp() override {
        ASSERT_NE(listWindow, nullptr)
            << "no window could be created: these tests need a display (under Wine, Xvfb)";
    }
    ~MessageListTest() override {
        list.Detach();
        ::DestroyWindow(parent);
        ::DeleteObject(font);
        ::DeleteObject(largeFont);
    }

    static LRESULT CALLBACK ParentProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
        auto* test = reinterpret_cast<MessageListTest*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (test && test->list.GetSafeHwnd()) {
            if (message == WM_MEASUREITEM &&
                reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->CtlID == kListId) {
                test->list.OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
                return TRUE;
            }
            if (message == WM_DRAWITEM &&
                reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->CtlID == kListId) {
                test->list.OnDrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
                return TRUE;
            }
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    std::string Text(int index) const {
        char buffer[256] = {};
        ::SendMessageA(listWindow, LB_GETTEXT, index, reinterpret_cast<LPARAM>(buffer));
        return buffer;
    }
    int ItemHeight(int index) const {
        return static_cast<int>(::SendMessageA(listWindow, LB_GETITEMHEIGHT, index, 0));
    }

    // Has the list draw item `index` (-1: the empty list's request) into the canvas, and checks
    // that the device context holds the same pen, brush and font afterwards.
    void Draw(Canvas& canvas, int index, UINT state, const RECT& rect) {
        const HGDIOBJ pen = ::GetCurrentObject(canvas.Dc(), OBJ_PEN);
        const HGDIOBJ brush = ::GetCurrentObject(canvas.Dc(), OBJ_BRUSH);
        const HGDIOBJ drawFont = ::GetCurrentObject(canvas.Dc(), OBJ_FONT);
        DRAWITEMSTRUCT request{};
        request.CtlType = ODT_LISTBOX;
        request.CtlID = kListId;
        request.itemID = static_cast<UINT>(index);
        request.itemAction = ODA_DRAWENTIRE;
        request.itemState = state;
        request.hwndItem = listWindow;
        request.hDC = canvas.Dc();
        request.rcItem = rect;
        if (index >= 0)
            request.itemData = ::SendMessageA(listWindow, LB_GETITEMDATA, index, 0);
        list.DrawItem(&request);
        EXPECT_EQ(::GetCurrentObject(canvas.Dc(), OBJ_PEN), pen);
        EXPECT_EQ(::GetCurrentObject(canvas.Dc(), OBJ_BRUSH), brush);
        EXPECT_EQ(::GetCurrentObject(canvas.Dc(), OBJ_FONT), drawFont);
    }

    // Where text drawn by TextOutA at (0, 0) first shows ink of its colour on this background.
    POINT InkOffset(const std::string& text, COLORREF textColor, COLORREF background) {
        Canvas reference(kCanvasWidth, kCanvasHeight, font);
        reference.Fill(background);
        ::SetBkColor(reference.Dc(), background);
        ::SetTextColor(reference.Dc(), textColor);
        const int x = 40, y = 10;
        ::TextOutA(reference.Dc(), x, y, text.c_str(), static_cast<int>(text.size()));
        const POINT ink = reference.FirstInk({0, 0, kCanvasWidth, kCanvasHeight}, textColor, 0);
        return {ink.x - x, ink.y - y};
    }

    int TextWidth(const std::string& text) {
        Canvas measure(8, 8, font);
        SIZE extent{};
        ::GetTextExtentPoint32A(measure.Dc(), text.c_str(), static_cast<int>(text.size()), &extent);
        return extent.cx;
    }

    RECT ItemRect() const { return {10, 20, 10 + 460, 20 + FontHeight(font) + 1}; }

    static constexpr int kCanvasWidth = 500, kCanvasHeight = 60;

    HFONT font = CreateTestFont(13);
    HFONT largeFont = CreateTestFont(26);
    HWND parent = nullptr;
    HWND listWindow = nullptr;
    CMessageListBox list;
};

TEST_F(MessageListTest, TheSeventeenthLineDropsTheFirstAndTheNewestIsInView) {
    const MessageColor palette[] = {0x00000000u, 0x00008080u, 0x000000C0u,
                                    0x00800000u, 0x80008000u, 0x800000C0u};
    for (int line = 1; line <= 17; ++line) {
        list.AddMessage("Line " + std::to_string(line), palette[line % 6]);
        EXPECT_EQ(list.GetCount(), std::min(line, 16));
        EXPECT_EQ(list.GetCurSel(), LB_ERR) << "a line stayed selected after line " << line;
    }

    ASSERT_EQ(list.GetCount(), 16);
    for (int index = 0; index < 16; ++index) {
        const int line = index + 2;
        EXPECT_EQ(Text(index), "Line " + std::to_string(line));
        EXPECT_EQ(list.GetItemData(index), palette[line % 6]) << "line " << line;
    }
    // The list shows fewer than 16 lines: it has scrolled so that the newest is in view.
    RECT client{}, newest{};
    ::GetClientRect(listWindow, &client);
    ::SendMessageA(listWindow, LB_GETITEMRECT, 15, reinterpret_cast<LPARAM>(&newest));
    EXPECT_GT(::SendMessageA(listWindow, LB_GETTOPINDEX, 0, 0), 0);
    EXPECT_GE(newest.top, client.top);
    EXPECT_LE(newest.bottom, client.bottom);
}

TEST_F(MessageListTest, ALineTheUserSelectedIsNoLongerSelectedAfterTheNextLine) {
    for (int line = 0; line < 4; ++line)
        list.AddMessage("Line", 0);
    list.SetCurSel(2);
    ASSERT_EQ(list.GetCurSel(), 2);

    list.AddMessage("Next", kRed);

    EXPECT_EQ(list.GetCurSel(), LB_ERR);
    EXPECT_EQ(Text(4), "Next");
    EXPECT_EQ(list.GetItemData(4), kRed);
}

TEST_F(MessageListTest, EveryLineIsTheFontsHeightPlusOne) {
    list.AddMessage("Plain", 0);
    list.AddMessage("Emphasised", kGreenEmphasised);
    ::SendMessageA(listWindow, WM_SETFONT, reinterpret_cast<WPARAM>(largeFont), FALSE);
    list.AddMessage("Plain", 0);
    list.AddMessage("Emphasised", kRedEmphasised);

    const int small = FontHeight(font) + 1, large = FontHeight(largeFont) + 1;
    ASSERT_NE(small, large);
    EXPECT_EQ(ItemHeight(0), small);
    EXPECT_EQ(ItemHeight(1), small);
    EXPECT_EQ(ItemHeight(2), large);
    EXPECT_EQ(ItemHeight(3), large);
}

TEST_F(MessageListTest, APlainLinesTextStartsTwoPixelsInOnTheWindowColour) {
    const std::string text = "Creating directory ...";
    list.AddMessage(text, kRed);
    Canvas canvas(kCanvasWidth, kCanvasHeight, font);
    const RECT item = ItemRect();

    Draw(canvas, 0, 0, item);

    const COLORREF window = ::GetSysColor(COLOR_WINDOW);
    const POINT offset = InkOffset(text, RGB(192, 0, 0), window);
    const POINT ink = canvas.FirstInk(item, RGB(192, 0, 0), item.left);
    EXPECT_EQ(ink.x - offset.x, item.left + 2);
    EXPECT_EQ(ink.y - offset.y, item.top + 1);
    EXPECT_EQ(canvas.Pixel(item.left, item.top), window);
    EXPECT_EQ(canvas.Pixel(item.left + 1, item.top + 7), window);
    EXPECT_EQ(canvas.Pixel(item.right - 1, item.bottom - 1), window);
    // Nothing outside the item's rectangle is touched.
    EXPECT_EQ(canvas.Pixel(item.left - 1, item.top), kUntouched);
    EXPECT_EQ(canvas.Pixel(item.right, item.top), kUntouched);
    EXPECT_EQ(canvas.Pixel(item.left, item.bottom), kUntouched);
}

// A folder typed in any script shows in its line exactly as typed, drawn as Unicode text.
TEST_F(MessageListTest, ALineInAnyScriptIsHeldAndDrawnExactly) {
    list.AddMessage("Installing Torvane into C:\\Программы\\张伟 ...", kRed);
    wchar_t held[64] = {};
    ::SendMessageW(listWindow, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(held));
    EXPECT_EQ(std::wstring(held), L"Installing Torvane into C:\\Программы\\张伟 ...");

    Canvas canvas(kCanvasWidth, kCanvasHeight, font);
    const RECT item = ItemRect();
    Draw(canvas, 0, 0, item);
    Canvas reference(kCanvasWidth, kCanvasHeight, font);
    reference.Fill(::GetSysColor(COLOR_WINDOW));
    ::SetTextColor(reference.Dc(), RGB(192, 0, 0));
    ::SetBkColor(reference.Dc(), ::GetSysColor(COLOR_WINDOW));
    ::TextOutW(reference.Dc(), item.left + 2, item.top + 1, held, static_cast<int>(wcslen(held)));
    for (int x = item.left; x < item.right; x += 7)
        for (int y = item.top; y < item.bottom; ++y)
            ASSERT_EQ(canvas.Pixel(x, y), reference.Pixel(x, y)) << x << "," << y;
}

TEST_F(MessageListTest, AnEmphasisedLineStandsBetweenTwoDotsInItsColour) {
    struct Case {
        std::string text;
        MessageColor color;
        COLORREF ink;
    };
    const Case cases[] = {
        {"Installation completed successfully!", kGreenEmphasised, RGB(0, 128, 0)},
        {"Installation failed!", kRedEmphasised, RGB(192, 0, 0)}};
    const COLORREF window = ::GetSysColor(COLOR_WINDOW);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.text);
        list.AddMessage(test.text, test.color);
        Canvas canvas(kCanvasWidth, kCanvasHeight, font);
        const RECT item = ItemRect();

        Draw(canvas, list.GetCount() - 1, 0, item);

        // The text's ink is looked for between the dots: with some fonts the trailing dot
        // reaches higher than the first row of the text.
        const int cx = TextWidth(test.text);
        const POINT offset = InkOffset(test.text, test.ink, window);
        const RECT betweenDots = {item.left, item.top, item.left + 16 + cx, item.bottom};
        const POINT ink = canvas.FirstInk(betweenDots, test.ink, item.left + 14);
        EXPECT_EQ(ink.x - offset.x, item.left + 16);
        EXPECT_EQ(ink.y - offset.y, item.top + 1);

        for (int dx : {0, 4})
            for (int dy : {0, 4}) {
                EXPECT_EQ(canvas.Pixel(item.left + 6 + dx, item.top + 5 + dy), test.ink)
                    << "leading dot " << dx << "," << dy;
                EXPECT_EQ(canvas.Pixel(item.left + cx + 20 + dx, item.top + 5 + dy), test.ink)
                    << "trailing dot " << dx << "," << dy;
            }
        EXPECT_EQ(canvas.Pixel(item.left + 8, item.top + 7), test.ink);
        EXPECT_EQ(canvas.Pixel(item.left + cx + 22, item.top + 7), test.ink);
        // Clear of the dots: the window colour.
        EXPECT_EQ(canvas.Pixel(item.left + 1, item.top + 7), window);
        EXPECT_EQ(canvas.Pixel(item.left + 14, item.top + 7), window);
        EXPECT_EQ(canvas.Pixel(item.left + cx + 28, item.top + 7), window);
        EXPECT_EQ(canvas.Pixel(item.right - 1, item.top + 7), window);
    }
}

TEST_F(MessageListTest, ASelectedLineIsOnTheHighlightInItsOwnColour) {
    list.AddMessage("Warning: Directory already exists.", 0x00008080u);
    Canvas canvas(kCanvasWidth, kCanvasHeight, font);
    const RECT item = ItemRect();

    Draw(canvas, 0, ODS_SELECTED | ODS_FOCUS, item);

    const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
    EXPECT_EQ(canvas.Pixel(item.left, item.top), highlight);
    EXPECT_EQ(canvas.Pixel(item.right - 2, item.top + 2), highlight);
    EXPECT_EQ(canvas.Pixel(item.right - 1, item.bottom - 1), highlight);
    const POINT ink = canvas.FirstInk(item, RGB(128, 128, 0), item.left);
    EXPECT_GE(ink.x, item.left + 2) << "no text in the line's own colour";
    // The text's own background is the highlight too: nothing else shows in the item.
    for (int y = item.top; y < item.bottom; ++y)
        for (int x = item.left; x < item.right; ++x) {
            const COLORREF pixel = canvas.Pixel(x, y);
            ASSERT_TRUE(pixel == highlight || pixel == RGB(128, 128, 0)) << x << "," << y;
        }

    // Focus alone changes nothing: the window colour, and no focus rectangle. (The text cell
    // reaches the item's last row, so only the first row and the two sides are free of text.)
    Canvas focused(kCanvasWidth, kCanvasHeight, font);
    Draw(focused, 0, ODS_FOCUS, item);
    const COLORREF window = ::GetSysColor(COLOR_WINDOW);
    for (int x = item.left; x < item.right; ++x)
        EXPECT_EQ(focused.Pixel(x, item.top), window) << x;
    for (int y = item.top; y < item.bottom; ++y) {
        EXPECT_EQ(focused.Pixel(item.left, y), window) << y;
        EXPECT_EQ(focused.Pixel(item.right - 1, y), window) << y;
    }
}

TEST_F(MessageListTest, BitsTwentyFourToThirtyMakeNoDifference) {
    const std::pair<MessageColor, MessageColor> pairs[] = {
        {0x000000C0u, 0x7F0000C0u}, {0x80008000u, 0xFF008000u}, {0x00800000u, 0x01800000u}};
    const RECT item = ItemRect();
    for (const auto& [plain, withBits] : pairs) {
        SCOPED_TRACE(withBits);
        list.AddMessage("Same text", plain);
        list.AddMessage("Same text", withBits);
        Canvas first(kCanvasWidth, kCanvasHeight, font), second(kCanvasWidth, kCanvasHeight, font);
        Draw(first, list.GetCount() - 2, 0, item);
        Draw(second, list.GetCount() - 1, 0, item);
        EXPECT_TRUE(first.Pixels() == second.Pixels());
    }
}

TEST_F(MessageListTest, AnEmptyListsItemIsFilledWithTheWindowColourOnly) {
    Canvas canvas(kCanvasWidth, kCanvasHeight, font);
    const RECT item = ItemRect();

    Draw(canvas, -1, ODS_FOCUS, item);

    const COLORREF window = ::GetSysColor(COLOR_WINDOW);
    for (int y = 0; y < canvas.Height(); ++y)
        for (int x = 0; x < canvas.Width(); ++x) {
            const bool inside =
                x >= item.left && x < item.right && y >= item.top && y < item.bottom;
            ASSERT_EQ(canvas.Pixel(x, y), inside ? window : kUntouched) << x << "," << y;
        }
}

// Each drawing of an emphasised line makes a brush and a pen. Kept ones would run the process out
// of drawing objects (10,000 on Windows, fewer than 70,000 under Wine): a drawing after that
// many paints nothing, and the count of the system, where it keeps one, grows.
TEST_F(MessageListTest, DrawingKeepsNoDrawingObjects) {
    list.AddMessage("Installation failed!", kRedEmphasised);
    Canvas canvas(kCanvasWidth, kCanvasHeight, font);
    const DWORD before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    for (int draw = 0; draw < 70000; ++draw)
        Draw(canvas, 0, draw % 2 ? ODS_SELECTED : 0, ItemRect());
    canvas.Fill(kUntouched);
    Draw(canvas, 0, 0, ItemRect());
    const RECT item = ItemRect();
    EXPECT_EQ(canvas.Pixel(item.right - 1, item.bottom - 1), ::GetSysColor(COLOR_WINDOW));
    // Wine keeps no such count (GetGuiResources returns 0): the drawing above tells alone.
    if (before != 0) {
        EXPECT_LE(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), before + 5);
    }
}

} // namespace
