#include "install/RunLock.h"

namespace {

// "Global\": one lock for every session of the machine, a deployment tool's and a user's alike.
constexpr wchar_t kLockName[] = L"Global\\TorvaneSoftwareSuiteSetupRun";

} // namespace

bool RunLock::Acquire() {
    if (owned_)
        return true;
    if (!mutex_)
        mutex_.Reset(::CreateMutexW(nullptr, FALSE, kLockName));
    if (!mutex_)
        return false;
    const DWORD waited = ::WaitForSingleObject(mutex_.Get(), 0);
    owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    return owned_;
}

void RunLock::Release() {
    if (owned_)
        ::ReleaseMutex(mutex_.Get());
    owned_ = false;
}

bool RunLock::HeldElsewhere() {
    RunLock probe;
    return !probe.Acquire();
}
