#include "ui/message_boxes.h"

#include <cwchar>
#include <vector>

#include "platform/scoped_handle.h"

namespace updater {

HHOOK MessageBoxHook = nullptr;

namespace {

constexpr UINT_PTR MessageBoxSubclassId = 1;
constexpr int CaptionCapacity = 1024;
// The longest candidate of a 1023-unit caption is two units longer, plus its terminator.
constexpr int FittedCaptionCapacity = CaptionCapacity + 2;
constexpr int CaptionMargin = 5;

int ShowMessageBox(HWND owner, const wchar_t* caption, const wchar_t* text, UINT type) {
    MessageBoxHook =
        SetWindowsHookExW(WH_CALLWNDPROC, MessageBoxHookProc, nullptr, GetCurrentThreadId());
    const int result = MessageBoxW(owner, text, caption, type);
    // A box that failed before it initialised leaves the hook behind; it must not catch the
    // next dialog the thread creates.
    if (MessageBoxHook != nullptr) {
        UnhookWindowsHookEx(MessageBoxHook);
        MessageBoxHook = nullptr;
    }
    return result;
}

void FitCaption(HWND window) {
    const int width = CaptionTextWidth(window);

    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return;
    // The caption font as reported, not rescaled for the box's DPI.
    const ScopedFont font(CreateFontIndirectW(&metrics.lfCaptionFont));
    const ScopedWindowDC dc(window);
    if (font.get() == nullptr || dc.get() == nullptr) return;
    const ScopedSelection selection(dc.get(), font.get());

    wchar_t caption[CaptionCapacity] = {};
    GetWindowTextW(window, caption, CaptionCapacity);
    wchar_t fitted[FittedCaptionCapacity];
    FitTextToWidth(fitted, caption, dc.get(), width);
    SetWindowTextW(window, fitted);
}

}  // namespace

static_assert(sizeof(TITLEBARINFO) == 44, "TITLEBARINFO layout");
static_assert(sizeof(NONCLIENTMETRICSW) == 504, "NONCLIENTMETRICSW with iPaddedBorderWidth");

int AskYesNo(HWND owner, const wchar_t* caption, const wchar_t* text) {
    return ShowMessageBox(owner, caption, text, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
}

int ShowWarning(HWND owner, const wchar_t* caption, const wchar_t* text) {
    return ShowMessageBox(owner, caption, text, MB_OK | MB_ICONEXCLAMATION);
}

int ShowInformation(HWND owner, const wchar_t* caption, const wchar_t* text) {
    return ShowMessageBox(owner, caption, text, MB_OK | MB_ICONINFORMATION);
}

LRESULT CALLBACK MessageBoxHookProc(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG) {
        wchar_t className[256] = {};
        GetClassNameW(call->hwnd, className, 256);
        // Seven units with the terminator: the name must be exactly "#32770".
        if (std::wmemcmp(className, L"#32770", 7) == 0) {
            // Subclassed while this WM_INITDIALOG is on its way, so the subclass sees it.
            SetWindowSubclass(call->hwnd, MessageBoxSubclassProc, MessageBoxSubclassId, 0);
        }
        UnhookWindowsHookEx(MessageBoxHook);
        MessageBoxHook = nullptr;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    return CallNextHookEx(MessageBoxHook, code, wParam, lParam);
}

LRESULT CALLBACK MessageBoxSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR, DWORD_PTR) {
    switch (message) {
        case WM_INITDIALOG: {
            // Fitted once the box has handled the message: some systems (Wine) give the box
            // its caption and final size only then.
            const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
            FitCaption(window);
            return result;
        }
        case WM_DESTROY:
            RemoveWindowSubclass(window, MessageBoxSubclassProc, MessageBoxSubclassId);
            break;
        default:
            break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

int CaptionTextWidth(HWND window) {
    // Looked up on every call: both are missing before Windows 10 version 1607.
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
    GetDpiForWindowFunction getDpiForWindow = nullptr;
    GetSystemMetricsForDpiFunction getSystemMetricsForDpi = nullptr;
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
        getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
            reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
        getSystemMetricsForDpi = reinterpret_cast<GetSystemMetricsForDpiFunction>(
            reinterpret_cast<void*>(GetProcAddress(user32, "GetSystemMetricsForDpi")));
    }

    TITLEBARINFO info{};
    info.cbSize = sizeof(info);
    if (!GetTitleBarInfo(window, &info)) return -1;
    int width = info.rcTitleBar.right - info.rcTitleBar.left;
    // rgstate[2..5]: minimize, maximize, help and close buttons.
    for (int button = 2; button <= 5; ++button) {
        if (info.rgstate[button] & STATE_SYSTEM_INVISIBLE) continue;
        if (getDpiForWindow != nullptr && getSystemMetricsForDpi != nullptr)
            width -= getSystemMetricsForDpi(SM_CXSIZE, getDpiForWindow(window));
        else
            width -= GetSystemMetrics(SM_CXSIZE);
    }
    return width - CaptionMargin;
}

void FitTextToWidth(wchar_t* output, const wchar_t* text, HDC dc, int maxWidth) {
    const size_t length = std::wcslen(text);
    std::vector<wchar_t> candidate(length + 4, L'\0');
    std::wmemcpy(output, text, length + 1);
    if (maxWidth < 0 || length == 0) return;

    // k counts the characters removed; the end keeps the larger half when they are odd.
    for (size_t k = 0; k < length; ++k) {
        size_t candidateLength = length;
        if (k == 0) {
            std::wmemcpy(candidate.data(), text, length);
        } else {
            const size_t head = (length - k) / 2;
            const size_t tail = length - k - head;
            std::wmemcpy(candidate.data(), text, head);
            std::wmemcpy(candidate.data() + head, L"...", 3);
            std::wmemcpy(candidate.data() + head + 3, text + head + k, tail);
            candidateLength = head + 3 + tail;
        }
        candidate[candidateLength] = L'\0';
        SIZE size{};
        if (GetTextExtentPoint32W(dc, candidate.data(), static_cast<int>(candidateLength), &size) &&
            size.cx <= maxWidth) {
            std::wmemcpy(output, candidate.data(), candidateLength + 1);
            return;
        }
    }
}

}  // namespace updater
