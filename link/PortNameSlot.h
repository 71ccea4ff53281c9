// The tracker's port name, handed from port discovery on the UI thread to the worker that opens
// the port. A reader always gets a whole name or an empty one, never a half-copied one.
#pragma once
#include <cstddef>

#include <windows.h>

#include "link/PortName.h"

class PortNameSlot {
public:
    constexpr PortNameSlot() = default;
    PortNameSlot(const PortNameSlot&) = delete;
    PortNameSlot& operator=(const PortNameSlot&) = delete;

    // False, with the slot left as it was, for a name longer than kMaxPortNameChars or a null pointer.
    bool Set(const wchar_t* name);
    void Get(wchar_t (&out)[kMaxPortNameChars + 1]) const;

private:
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    wchar_t name_[kMaxPortNameChars + 1] = {};
};
