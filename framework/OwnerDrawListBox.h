// A list box whose items the parent asks it to measure and draw. Items are given as UTF-8 and
// held as UTF-16.
#pragma once

#include "framework/Wnd.h"

#include <string>

class COwnerDrawListBox : public CWnd {
public:
    int AddString(const std::string& text) const;
    int SetItemData(int index, DWORD_PTR data) const {
        return static_cast<int>(SendMessage(LB_SETITEMDATA, index, static_cast<LPARAM>(data)));
    }
    DWORD_PTR GetItemData(int index) const { return SendMessage(LB_GETITEMDATA, index); }
    int GetCount() const { return static_cast<int>(SendMessage(LB_GETCOUNT)); }
    int SetCurSel(int index) const { return static_cast<int>(SendMessage(LB_SETCURSEL, index)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(LB_GETCURSEL)); }
    int DeleteString(int index) const {
        return static_cast<int>(SendMessage(LB_DELETESTRING, index));
    }
    std::wstring GetText(int index) const;

    virtual void MeasureItem(MEASUREITEMSTRUCT* request) = 0;
    virtual void DrawItem(DRAWITEMSTRUCT* request) = 0;

    bool OnMeasureItem(MEASUREITEMSTRUCT* request) override {
        MeasureItem(request);
        return true;
    }
    bool OnDrawItem(DRAWITEMSTRUCT* request) override {
        DrawItem(request);
        return true;
    }
};
