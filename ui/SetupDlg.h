// The setup dialog: agreement, Accept, install folder, "Create Desktop Icons", Install, the
// message list and the progress bar. It owns the install engine and is the view it reports to.
#pragma once

#include "framework/Dialog.h"
#include "install/InstallEngine.h"
#include "install/InstallView.h"
#include "install/RunLog.h"
#include "install/RunStart.h"
#include "ui/MessageListBox.h"
#include "win32/Handles.h"

#include <optional>
#include <string>

// What the dialog opens with: the defaults, or what the command line gave.
struct DialogStart {
    std::wstring installFolder; // shown in the folder box; for the uninstaller, the suite's
    int createDesktopIcons = 1;
    bool commonShortcutFolders = false;
    bool allowDowngrade = false;
    RunLog* log = nullptr; // every line of the message list goes there too
    // The uninstaller's dialog: removes the suite from installFolder at once.
    bool uninstall = false;
};

// The message box of a setup that does nothing because another one is installing.
void ShowAnotherRunBox(HWND owner);

class CSetupDlg : public CDialog, public IInstallView {
public:
    explicit CSetupDlg(HWND parent = nullptr, DialogStart start = {});
    ~CSetupDlg() override;

    // IInstallView
    void AddMessage(std::string text, MessageColor color) override;
    void LogDetail(std::string text) override;
    void SetProgressRange(int maximum) override;
    void SetProgressPos(int position) override;
    void EnableClose() override;
    bool AskToRetry(const std::string& question) override;

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnCancel() override;
    bool DispatchMessageMap(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void OnPaint();
    HICON OnQueryDragIcon();
    void OnInstall();
    void OnTimer(UINT_PTR timerId);
    void OnDestroy();
    void OnAccept();
    void OnWorkerDone();
    void ReadVersionLabel();
    void StartUninstall();

    InstallEngine engine{*this};
    std::optional<PreparedRun> prepared;
    DialogStart start;

    // The program's own file, and the check box's value (what Install hands the engine).
    std::string modulePath;
    int createDesktopIcons = 1;
    std::string versionLabel;
    std::string agreementText;
    HICON appIcon;

    CProgressCtrl progressBar;
    CButton acceptButton;
    CButton closeButton;
    CEdit pathEdit;
    CButton installButton;
    CMessageListBox messageList;
};
