#include "link/PortNameSlot.h"

#include <cwchar>

// The slot is a process-wide static that pages and workers may touch from the first moment of
// the program, so it must need no constructor code: SRWLOCK_INIT and a zeroed name are constant
// initialisation, and the slot is usable even from another static object's constructor. Nothing
// needs to be released at exit either.
//
// Port discovery rewrites the name while the boot-loader or reset worker may be opening the
// port with it; the lock keeps the worker from seeing the tail of the previous name behind the
// head of the new one, which would open the wrong port.

bool PortNameSlot::Set(const wchar_t* name) {
    if (name == nullptr) {
        return false;
    }
    // A longer name would not fit the port's device path, so it is refused rather than cut.
    const size_t length = wcsnlen(name, kMaxPortNameChars + 1);
    if (length > kMaxPortNameChars) {
        return false;
    }
    AcquireSRWLockExclusive(&lock_);
    wmemcpy(name_, name, length);
    name_[length] = L'\0';
    ReleaseSRWLockExclusive(&lock_);
    return true;
}

void PortNameSlot::Get(wchar_t (&out)[kMaxPortNameChars + 1]) const {
    AcquireSRWLockShared(&lock_);
    wmemcpy(out, name_, kMaxPortNameChars + 1);
    ReleaseSRWLockShared(&lock_);
}
