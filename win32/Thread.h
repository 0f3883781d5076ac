// The one way the programs start a thread. Through the C runtime (_beginthreadex), not
// CreateThread: the threads' work uses the runtime (streams, errno, operator new), and msvcrt
// sets up its per-thread data for the threads it starts itself.
#pragma once

#include "win32/Handles.h"

#include <windows.h>

#include <process.h>

#include <cstddef>

namespace win32 {

// A thread's entry, with the system's calling convention (__stdcall on i686), which a lambda's
// cannot have.
using ThreadEntry = unsigned(__stdcall*)(void* context);

// Starts `entry(context)` on a new thread. A `stackReservation` of 0 gives the program's default
// stack; any other is the stack's reservation, not only its first commit, so that the thread's
// memory counts no more than that. The thread's handle; invalid when no thread could be had.
inline ScopedHandle StartThread(ThreadEntry entry, void* context,
                                std::size_t stackReservation = 0) {
    const unsigned flags = stackReservation != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0;
    return ScopedHandle(reinterpret_cast<HANDLE>(::_beginthreadex(
        nullptr, static_cast<unsigned>(stackReservation), entry, context, flags, nullptr)));
}

} // namespace win32
