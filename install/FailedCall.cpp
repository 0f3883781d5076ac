#include "install/FailedCall.h"

#include "win32/Handles.h"
#include "win32/WideText.h"

#include <windows.h>

texts::FailedCallText DescribeFailedCall(long codeOrHresult, const std::string& fixedLine) {
    const HRESULT result = static_cast<HRESULT>(codeOrHresult);
    const long code = FAILED(result) && HRESULT_FACILITY(result) == FACILITY_WIN32
                          ? static_cast<long>(HRESULT_CODE(result))
                          : codeOrHresult;
    // The flags the message list was always made with: the lines stay as they were.
    wchar_t* systemText = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                     static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                     reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
    const ScopedLocalMemory systemTextOwner(systemText);
    return texts::FailedCall(code, systemText ? base::Utf8(systemText).c_str() : nullptr,
                             fixedLine);
}

void ReportFailedCall(IInstallView& report, MessageColor color, long codeOrHresult,
                      const std::string& fixedLine) {
    texts::FailedCallText text = DescribeFailedCall(codeOrHresult, fixedLine);
    report.AddMessage(std::move(text.line), color);
    if (!text.logDetail.empty())
        report.LogDetail(std::move(text.logDetail));
}
