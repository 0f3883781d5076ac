// A modal dialog built from a dialog template. The static dialog procedure finds the object
// (stored at WM_INITDIALOG) and hands each message to it: first to the derived class's message
// map, then to the base handling of Close and cancel, and owner-draw requests to the bound
// control that draws itself.
#pragma once

#include "framework/Wnd.h"

#include <span>
#include <string>
#include <vector>

class CDialog;

// Copies values between members and controls: to the controls (save = false) or back (true).
class CDataExchange {
public:
    CDataExchange(CDialog& dialog, bool saveAndValidate)
        : dialog(dialog), saveAndValidate(saveAndValidate) {}
    CDialog& dialog;
    const bool saveAndValidate;
};

void DDX_Control(CDataExchange* exchange, int controlId, CWnd& control);
void DDX_Text(CDataExchange* exchange, int controlId, std::string& value);
void DDX_Check(CDataExchange* exchange, int controlId, int& value);

// One row of a dialog's message map: the message, for WM_COMMAND the notification code and the
// control id, and the member that handles it. Exactly one handler pointer is set.
template <class D> struct MessageMapEntry {
    UINT message;
    UINT notification;
    int controlId;
    void (D::*handler)();
    void (D::*timerHandler)(UINT_PTR);
    HICON (D::*iconHandler)();
};

template <class D> constexpr MessageMapEntry<D> OnMessage(UINT message, void (D::*handler)()) {
    return {message, 0, 0, handler, nullptr, nullptr};
}
template <class D>
constexpr MessageMapEntry<D> OnCommand(UINT notification, int controlId, void (D::*handler)()) {
    return {WM_COMMAND, notification, controlId, handler, nullptr, nullptr};
}
template <class D> constexpr MessageMapEntry<D> OnTimerMessage(void (D::*handler)(UINT_PTR)) {
    return {WM_TIMER, 0, 0, nullptr, handler, nullptr};
}
template <class D> constexpr MessageMapEntry<D> OnIconQuery(UINT message, HICON (D::*handler)()) {
    return {message, 0, 0, nullptr, nullptr, handler};
}

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, HWND parent = nullptr);

    INT_PTR DoModal();
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    void EndDialog(INT_PTR result) const { ::EndDialog(m_hWnd, result); }
    HWND GetDlgItem(int controlId) const { return ::GetDlgItem(m_hWnd, controlId); }

    // Called by DDX_Control: the dialog forwards owner-draw requests to bound controls.
    void RegisterControl(CWnd& control);

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange*) {}
    virtual void OnOK();
    virtual void OnCancel();

    // The derived class's message map; answers true when it handled the message.
    virtual bool DispatchMessageMap(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

    template <class D>
    bool Dispatch(D& dialog, std::span<const MessageMapEntry<D>> map, UINT message, WPARAM wParam,
                  LPARAM lParam, INT_PTR& result);

    // Called from a handler: the message goes on to the platform's default handling as well.
    void Default() { defaultRequested_ = true; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    CWnd* FindControl(UINT controlId) const;

    UINT templateId_;
    HWND parent_;
    bool defaultRequested_ = false;
    std::vector<CWnd*> controls_;
};

template <class D>
bool CDialog::Dispatch(D& dialog, std::span<const MessageMapEntry<D>> map, UINT message,
                       WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    for (const MessageMapEntry<D>& entry : map) {
        if (entry.message != message)
            continue;
        if (message == WM_COMMAND &&
            (entry.notification != HIWORD(wParam) || entry.controlId != LOWORD(wParam)))
            continue;
        defaultRequested_ = false;
        result = TRUE;
        if (entry.handler)
            (dialog.*entry.handler)();
        else if (entry.timerHandler)
            (dialog.*entry.timerHandler)(static_cast<UINT_PTR>(wParam));
        else if (entry.iconHandler)
            result = reinterpret_cast<INT_PTR>((dialog.*entry.iconHandler)());
        (void)lParam;
        if (defaultRequested_)
            result = FALSE;
        return true;
    }
    return false;
}
