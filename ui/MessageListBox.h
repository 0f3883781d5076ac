// The setup's log: an owner-drawn list box that paints each line in the colour stored with it
// and keeps only the newest lines.
#pragma once

#include "framework/OwnerDrawListBox.h"
#include "install/MessageColor.h"

#include <string>

class CMessageListBox : public COwnerDrawListBox {
public:
    static constexpr int kMaxLines = 16;

    ~CMessageListBox() override = default;

    // Appends one string with its colour word.
    void AddColoredLine(std::string text, DWORD data);
    // Appends a line, brings it into view, leaves no line selected, drops the oldest beyond 16.
    void AddMessage(std::string text, MessageColor color);

    void DrawItem(DRAWITEMSTRUCT* request) override;
    void MeasureItem(MEASUREITEMSTRUCT* request) override;
};
