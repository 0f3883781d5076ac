#include "install/InstallEngine.h"

#include "install/InstallTexts.h"

#include <cstdio>

void InstallEngine::Tick() {
    if (busy != 0)
        return;
    busy = 1;
    switch (InstallState) {
    case STATE_CREATE_DIR:
        CreateInstallFolder();
        break;
    case STATE_COPY_PAYLOAD:
        CopyPayload();
        break;
    case STATE_EXPAND:
        StartArchive();
        break;
    case STATE_WAIT_EXPAND:
        WaitForArchive();
        break;
    case STATE_DETECT:
        DetectComponents();
        break;
    case STATE_DESKTOP_LINKS:
        CreateDesktopShortcuts();
        break;
    case STATE_MENU_LINKS:
        CreateMenuShortcuts();
        break;
    case STATE_CLEANUP:
        CleanUp();
        break;
    case STATE_SUCCESS:
        Succeed();
        break;
    case STATE_FAILURE:
        Fail();
        break;
    default:
        // STATE_IDLE, STATE_DONE and any value that is not a state: nothing to do.
        break;
    }
    busy = 0;
}

void InstallEngine::DeleteIfExists(std::string path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return;
    std::fclose(file);
    if (!::DeleteFileA(path.c_str()))
        view.AddMessage(texts::CannotDeleteLine(path), kColorWarning);
}

void InstallEngine::CreateInstallFolder() {
    view.AddMessage(texts::kCreatingDirectory, kColorProgress);
    if (installFolderLossy || !texts::IsAbsoluteFolder(installFolder)) {
        view.AddMessage(texts::kDirectoryInvalid, kColorError);
        InstallState = STATE_FAILURE;
    } else if (::CreateDirectoryA(installFolder.c_str(), nullptr)) {
        InstallState = STATE_COPY_PAYLOAD;
    } else {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS) {
            view.AddMessage(texts::kDirectoryExists, kColorWarning);
            InstallState = STATE_COPY_PAYLOAD;
        } else if (error == ERROR_BAD_PATHNAME) {
            view.AddMessage(texts::kDirectoryInvalid, kColorError);
            InstallState = STATE_FAILURE;
        } else {
            view.AddMessage(texts::ErrorNumberLine(static_cast<long>(error)), kColorError);
            InstallState = STATE_FAILURE;
        }
    }
    for (ComponentEntry& component : components)
        component.found = 0;
}

void InstallEngine::CleanUp() {
    InstallState = STATE_SUCCESS;
    view.AddMessage(texts::kCleaningUp, kColorProgress);
    DeleteIfExists(archivePath);
}

void InstallEngine::Succeed() {
    InstallState = STATE_DONE;
    view.AddMessage(texts::kSuccess, kColorSuccess);
    FinishRun();
}

void InstallEngine::Fail() {
    InstallState = STATE_DONE;
    view.AddMessage(texts::kFailure, kColorFailure);
    DeleteIfExists(archivePath);
    FinishRun();
}

void InstallEngine::FinishRun() {
    view.EnableClose();
    view.SetProgressPos(0);
}
