// Where one line of the message list is drawn within its item rectangle: plain arithmetic.
#pragma once

#include "install/MessageColor.h"

struct DotBox {
    int left, top, right, bottom;
};

struct MessageLineLayout {
    int textX;
    int textY;
    bool emphasised;
    // Only for an emphasised line: the dots before and after its text.
    DotBox leadingDot;
    DotBox trailingDot;
};

// `textWidth` is the drawn width of the line's text; it places the trailing dot.
constexpr MessageLineLayout LayoutMessageLine(int left, int top, MessageColor color,
                                              int textWidth) {
    constexpr int kPlainIndent = 2;
    constexpr int kEmphasisIndent = 16;
    if (!IsEmphasised(color))
        return {left + kPlainIndent, top + 1, false, {}, {}};
    return {left + kEmphasisIndent,
            top + 1,
            true,
            {left + 6, top + 5, left + 11, top + 10},
            {left + textWidth + 20, top + 5, left + textWidth + 25, top + 10}};
}
