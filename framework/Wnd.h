// A window handle seen as an object: the controls the dialog binds and the dialog itself.
// Texts are UTF-8 here and UTF-16 in the window: every window is a Unicode window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    // One object per window: copying would leave two owners of one binding.
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND window) { m_hWnd = window; }
    HWND Detach();

    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    BOOL EnableWindow(BOOL enable = TRUE) const { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    void SetWindowText(const std::string& text) const;
    // The text as the window holds it, in UTF-16: an unpaired surrogate has no UTF-8 form.
    std::wstring GetWideWindowText() const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }

    // Owner-draw requests that the parent forwards; a window that draws itself answers true.
    virtual bool OnMeasureItem(MEASUREITEMSTRUCT*) { return false; }
    virtual bool OnDrawItem(DRAWITEMSTRUCT*) { return false; }

protected:
    HWND m_hWnd = nullptr;
};

using CButton = CWnd;
using CEdit = CWnd;

class CProgressCtrl : public CWnd {
public:
    // The classic 16-bit range message: both ends are cut to 16 bits.
    void SetRange(int lower, int upper) const {
        SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower & 0xFFFF, upper & 0xFFFF));
    }
    void SetPos(int position) const { SendMessage(PBM_SETPOS, static_cast<WPARAM>(position)); }
};
