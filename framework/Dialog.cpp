#include "framework/Dialog.h"

#include "win32/WideText.h"

#include <algorithm>

void DDX_Control(CDataExchange* exchange, int controlId, CWnd& control) {
    if (control.GetSafeHwnd())
        return;
    control.Attach(exchange->dialog.GetDlgItem(controlId));
    exchange->dialog.RegisterControl(control);
}

void DDX_Text(CDataExchange* exchange, int controlId, std::string& value) {
    CWnd control;
    control.Attach(exchange->dialog.GetDlgItem(controlId));
    if (exchange->saveAndValidate)
        value = base::Utf8(control.GetWideWindowText());
    else
        control.SetWindowText(value);
}

void DDX_Check(CDataExchange* exchange, int controlId, int& value) {
    const HWND control = exchange->dialog.GetDlgItem(controlId);
    if (exchange->saveAndValidate)
        value = ::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    else
        ::SendMessageW(control, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

CDialog::CDialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

INT_PTR CDialog::DoModal() {
    // A Unicode dialog: its controls and its message loop (IsDialogMessageW) pass typed
    // characters on as UTF-16, whatever the ANSI code page holds.
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent_,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(*this, saveAndValidate != FALSE);
    DoDataExchange(&exchange);
    return TRUE;
}

void CDialog::RegisterControl(CWnd& control) {
    if (std::find(controls_.begin(), controls_.end(), &control) == controls_.end())
        controls_.push_back(&control);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

CWnd* CDialog::FindControl(UINT controlId) const {
    for (CWnd* control : controls_)
        if (control->GetSafeHwnd() && static_cast<UINT>(control->GetDlgCtrlID()) == controlId)
            return control;
    return nullptr;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->Attach(window);
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog)
        return FALSE;
    const INT_PTR result = dialog->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
        dialog->Detach();
    }
    return result;
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = FALSE;
    if (DispatchMessageMap(message, wParam, lParam, result))
        return result;

    switch (message) {
    case WM_COMMAND:
        // Close and cancel end the dialog unless the derived map took them.
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        return FALSE;
    case WM_MEASUREITEM: {
        auto* request = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        CWnd* control = FindControl(request->CtlID);
        return control && control->OnMeasureItem(request) ? TRUE : FALSE;
    }
    case WM_DRAWITEM: {
        auto* request = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        CWnd* control = FindControl(request->CtlID);
        return control && control->OnDrawItem(request) ? TRUE : FALSE;
    }
    default:
        return FALSE;
    }
}
