// Owners of Windows handles that cannot be copied and close on every path.
#pragma once

#include "platform/win32.h"

// Owns one handle of type Handle (null when there is none) and passes it to Close once.
template <typename Handle, auto Close>
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(Handle handle) : handle_(handle) {}
    ~ScopedHandle() {
        if (handle_ != nullptr) Close(handle_);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    Handle get() const { return handle_; }
    // For functions that hand out a handle through a pointer; only while none is owned.
    Handle* receive() { return &handle_; }

private:
    Handle handle_ = nullptr;
};

using ScopedKernelHandle = ScopedHandle<HANDLE, CloseHandle>;
using ScopedRegistryKey = ScopedHandle<HKEY, RegCloseKey>;
using ScopedFont = ScopedHandle<HFONT, DeleteObject>;

// A window's device context, released to that window.
class ScopedWindowDC {
public:
    explicit ScopedWindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~ScopedWindowDC() {
        if (dc_ != nullptr) ReleaseDC(window_, dc_);
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;

    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a device context, the previous one put back at the end.
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~ScopedSelection() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};
