#include "ui/SetupDlg.h"

#include "image/ImageFile.h"
#include "install/FailedCall.h"
#include "install/InstallTexts.h"
#include "res/resource.h"
#include "ui/AgreementText.h"
#include "win32/WideText.h"

#include <cstdio>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace {

constexpr UINT_PTR kTickTimer = 1;
constexpr char kTitlePrefix[] = "Torvane Software Suite Setup ";
constexpr char kUninstallTitle[] = "Torvane Software Suite Uninstall";
// Posted by the engine's worker thread when a state's work is done.
constexpr UINT kWorkerDoneMessage = WM_APP + 1;

// The program file's name without folder and extension: the caption of the start-up message.
std::string ProgramName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// The label field is single-byte text: pack writes printable ASCII, and a byte beyond it (a
// hand-made image) shows as the ANSI code page has it.
std::string LabelText(const std::string& field) {
    std::wstring wide(field.size(), L'\0');
    const int units = ::MultiByteToWideChar(CP_ACP, 0, field.data(), static_cast<int>(field.size()),
                                            wide.data(), static_cast<int>(wide.size()));
    wide.resize(units > 0 ? static_cast<size_t>(units) : 0);
    return base::Utf8(wide);
}

} // namespace

void ShowAnotherRunBox(HWND owner) {
    ::MessageBoxW(owner, base::WideForDisplay(texts::kAnotherRun).c_str(),
                  L"Torvane Software Suite Setup", MB_OK | MB_ICONEXCLAMATION);
}

CSetupDlg::CSetupDlg(HWND parent, DialogStart start)
    : CDialog(IDD_SETUP, parent), start(std::move(start)),
      createDesktopIcons(this->start.createDesktopIcons),
      appIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SETUP))) {}

CSetupDlg::~CSetupDlg() = default;

bool CSetupDlg::DispatchMessageMap(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    static constexpr MessageMapEntry<CSetupDlg> kMessageMap[] = {
        OnMessage(WM_PAINT, &CSetupDlg::OnPaint),
        OnIconQuery(WM_QUERYDRAGICON, &CSetupDlg::OnQueryDragIcon),
        OnCommand(BN_CLICKED, IDC_INSTALL, &CSetupDlg::OnInstall),
        OnTimerMessage(&CSetupDlg::OnTimer),
        OnMessage(WM_DESTROY, &CSetupDlg::OnDestroy),
        OnCommand(BN_CLICKED, IDC_ACCEPT, &CSetupDlg::OnAccept),
        OnMessage(kWorkerDoneMessage, &CSetupDlg::OnWorkerDone),
    };
    return Dispatch<CSetupDlg>(*this, kMessageMap, message, wParam, lParam, result);
}

void CSetupDlg::DoDataExchange(CDataExchange* exchange) {
    DDX_Control(exchange, IDC_PROGRESS, progressBar);
    DDX_Control(exchange, IDC_ACCEPT, acceptButton);
    DDX_Control(exchange, IDOK, closeButton);
    DDX_Control(exchange, IDC_INSTALL_PATH, pathEdit);
    DDX_Control(exchange, IDC_INSTALL, installButton);
    DDX_Control(exchange, IDC_MESSAGES, messageList);
    DDX_Text(exchange, IDC_AGREEMENT, agreementText);
    DDX_Check(exchange, IDC_DESKTOP_ICONS, createDesktopIcons);
}

BOOL CSetupDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon));
    // COM on the dialog's thread for the rest of the run (the worker initialises its own).
    prepared.emplace();

    engine.NotifyWhenWorkDone(m_hWnd, kWorkerDoneMessage);
    installButton.EnableWindow(FALSE);
    ::SetWindowTextW(pathEdit.GetSafeHwnd(), start.installFolder.c_str());
    acceptButton.EnableWindow(TRUE);
    pathEdit.EnableWindow(TRUE);

    agreementText = AgreementText();

    modulePath = OwnModulePath();
    ReadVersionLabel();
    SetWindowText(kTitlePrefix + versionLabel);

    if (start.uninstall)
        agreementText.clear();
    UpdateData(FALSE);
    ::SetTimer(m_hWnd, kTickTimer, kTickMilliseconds, nullptr);
    if (start.uninstall)
        StartUninstall();
    return TRUE;
}

// The uninstaller's dialog: the same list and bar, its run started at once (the person
// confirmed it before the dialog opened), nothing to accept or choose.
void CSetupDlg::StartUninstall() {
    SetWindowText(kUninstallTitle);
    for (CWnd* control : {static_cast<CWnd*>(&acceptButton), static_cast<CWnd*>(&installButton),
                          static_cast<CWnd*>(&pathEdit), static_cast<CWnd*>(&closeButton)})
        control->EnableWindow(FALSE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_DESKTOP_ICONS), FALSE);
    InstallSettings settings;
    settings.installFolder = base::Utf8(start.installFolder);
    settings.uninstall = true;
    if (!StartRun(engine, *this, settings)) {
        ShowAnotherRunBox(m_hWnd);
        EndDialog(IDCANCEL);
    }
}

void CSetupDlg::ReadVersionLabel() {
    versionLabel.clear();
    base::BinaryFile self;
    if (!self.Open(modulePath, "rb")) {
        // The C runtime's open leaves the error of the Windows call that failed.
        const texts::FailedCallText text = DescribeFailedCall(
            static_cast<long>(::GetLastError()), "**ERROR!**  Unable to open file:\n" + modulePath);
        if (!text.logDetail.empty())
            LogDetail(text.logDetail);
        ::MessageBoxW(m_hWnd, base::WideForDisplay(text.line).c_str(),
                      base::WideForDisplay(ProgramName(modulePath)).c_str(),
                      MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    // A signed image keeps its label in front of the certificate table. A file whose trailer
    // does not fit (too short, bytes appended) has no label: its last bytes are not one.
    image::ImageLayout layout;
    std::string ignored;
    if (image::ReadImageLayout(self, layout, ignored) && layout.trailerFits)
        versionLabel = LabelText(layout.label);
}

void CSetupDlg::OnAccept() {
    installButton.EnableWindow(TRUE);
    acceptButton.EnableWindow(FALSE);
}

void CSetupDlg::OnInstall() {
    UpdateData(TRUE);
    installButton.EnableWindow(FALSE);
    pathEdit.EnableWindow(FALSE);
    closeButton.EnableWindow(FALSE);
    if (StartRun(engine, *this,
                 MakeInstallSettings(modulePath, pathEdit.GetWideWindowText(), createDesktopIcons,
                                     start.commonShortcutFolders, start.allowDowngrade)))
        return;
    // Another setup began installing since this one opened: this one does nothing.
    ShowAnotherRunBox(m_hWnd);
    EndDialog(IDCANCEL);
}

void CSetupDlg::OnTimer(UINT_PTR) {
    Default();
    engine.Tick();
}

void CSetupDlg::OnCancel() {
    // Escape or a close request during a run: the archive ends and its copy goes, then the
    // program ends here, without waiting for the worker thread, as it would end between two
    // ticks. Ending the dialog first would keep the process alive while the window is taken
    // down (slow under Wine without a window manager), and a copy would go on meanwhile.
    if (engine.RunUnderWay()) {
        engine.EndArchiveNow();
        EndProcessNow();
    }
    CDialog::OnCancel();
}

// The worker's lines and progress, and its outcome, at once rather than at the next tick.
void CSetupDlg::OnWorkerDone() {
    engine.Collect();
}

void CSetupDlg::OnDestroy() {
    Default();
    ::KillTimer(m_hWnd, kTickTimer);
}

void CSetupDlg::OnPaint() {
    if (!::IsIconic(m_hWnd)) {
        Default();
        return;
    }
    ScopedPaint paint(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.Get()));
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(paint.Get(), x, y, appIcon);
}

HICON CSetupDlg::OnQueryDragIcon() {
    return appIcon;
}

void CSetupDlg::AddMessage(std::string text, MessageColor color) {
    if (start.log)
        start.log->Write(text, color);
    messageList.AddMessage(std::move(text), color);
}

// The log's alone: the list shows the lines the person reads.
void CSetupDlg::LogDetail(std::string text) {
    if (start.log)
        start.log->WriteDetail(text);
}

void CSetupDlg::SetProgressRange(int maximum) {
    progressBar.SetRange(0, maximum);
}

// Positions come thinned out already (ReportQueue): each is painted.
void CSetupDlg::SetProgressPos(int position) {
    progressBar.SetPos(position);
}

void CSetupDlg::EnableClose() {
    closeButton.EnableWindow(TRUE);
}

bool CSetupDlg::AskToRetry(const std::string& question) {
    wchar_t title[256] = {};
    ::GetWindowTextW(m_hWnd, title, ARRAYSIZE(title));
    return ::MessageBoxW(m_hWnd, base::WideForDisplay(question).c_str(), title,
                         MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}
