// One run at a time on the machine: a setup holds the machine-wide lock from the moment its run
// starts until it ends, whatever folder it installs into, so that two runs never unpack, move
// and record into one folder at once. A setup that was killed leaves the lock abandoned, which
// the next run takes.
#pragma once

#include "win32/Handles.h"

class RunLock {
public:
    RunLock() = default;
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    ~RunLock() { Release(); }

    // Takes the lock for this thread; false when another run holds it.
    bool Acquire();
    // Lets go of it (on the thread that took it).
    void Release();
    bool Held() const { return owned_; }

    // Whether another run holds the lock right now.
    static bool HeldElsewhere();

private:
    ScopedHandle mutex_;
    bool owned_ = false;
};
