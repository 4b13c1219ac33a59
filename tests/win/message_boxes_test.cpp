#include "ui/message_boxes.h"

#include "app/progress_dialog.h"
#include "app/resource.h"
#include "app/updater_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace updater;

namespace {

std::wstring TextOf(HWND window) {
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

// Shows a box through `show` on this thread while a second thread finds it, reads its text
// and presses `press`; empty when no box came.
template <typename Show>
std::wstring RunBox(Show show, int press) {
    const DWORD thread = GetCurrentThreadId();
    std::atomic<bool> returned{false};
    std::wstring seen;
    std::thread watcher([&] {
        for (int i = 0; i < 1000 && !returned; ++i, Sleep(20)) {
            HWND box = nullptr;
            EnumThreadWindows(
                thread,
                [](HWND window, LPARAM found) -> BOOL {
                    if (!IsWindowVisible(window) || GetDlgItem(window, 0xFFFF) == nullptr)
                        return TRUE;
                    *reinterpret_cast<HWND*>(found) = window;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&box));
            if (box == nullptr) continue;
            seen = TextOf(GetDlgItem(box, 0xFFFF));
            PostMessageW(GetDlgItem(box, press), BM_CLICK, 0, 0);
            return;
        }
    });
    show();
    returned = true;
    watcher.join();
    return seen;
}

// An empty modeless dialog, of class #32770 like the boxes.
HWND CreateEmptyDialog(const wchar_t* caption) {
    struct alignas(4) {
        DLGTEMPLATE header;
        WORD menu, windowClass, title;
    } dialog{{WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 0, 0, 300, 60}, 0, 0, 0};
    HWND window = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), &dialog.header, nullptr,
        [](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR { return message == WM_INITDIALOG; }, 0);
    SetWindowTextW(window, caption);
    return window;
}

// Cancel asks first: No changes nothing; Yes sets the flag and disables the button, and a
// click queued behind it asks nothing more. Each box takes its caption-fitting hook with it.
TEST(ProgressDialog, CancelAsksAndYesDisablesTheButton) {
    ProgressDialogWindow = CreateEmptyDialog(L"Progress");
    HWND button = CreateWindowExW(0, L"Button", L"Cancel", WS_CHILD | WS_VISIBLE, 0, 0, 80, 20,
                                  ProgressDialogWindow, reinterpret_cast<HMENU>(IDC_CANCEL),
                                  nullptr, nullptr);
    auto click = [] {
        ProgressDialogProc(ProgressDialogWindow, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
        return 0;
    };
    EXPECT_EQ(RunBox(click, IDNO), L"Cancel the installation?");
    EXPECT_EQ(CancelRequested, 0);
    EXPECT_TRUE(IsWindowEnabled(button));
    RunBox(click, IDYES);
    EXPECT_EQ(CancelRequested, 1);
    EXPECT_FALSE(IsWindowEnabled(button));
    EXPECT_TRUE(RunBox(click, IDYES).empty()) << "asked again";
    EXPECT_EQ(MessageBoxHook, nullptr);
    HWND later = CreateEmptyDialog(std::wstring(400, L'x').c_str());
    EXPECT_EQ(TextOf(later), std::wstring(400, L'x')) << "a later dialog's caption was fitted";
    DestroyWindow(later);

    // Alt+F4 is refused; closing the dialog ends the install.
    EXPECT_EQ(ProgressDialogProc(ProgressDialogWindow, WM_SYSCOMMAND, SC_CLOSE, 0), 1);
    ProgressDialogProc(ProgressDialogWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(InstallAborted, 1);
    EXPECT_EQ(ProgressDialogWindow, nullptr);
    EXPECT_FALSE(IsWindow(button));
    CancelRequested = InstallAborted = 0;
}

// A font selected into a memory device context, as the boxes measure with it.
class FontDc {
public:
    explicit FontDc(HFONT font) : font_(font), previous_(SelectObject(dc_, font)) {}
    ~FontDc() {
        SelectObject(dc_, previous_);
        DeleteDC(dc_);
        DeleteObject(font_);  // ignored for a stock font
    }
    int Width(const std::wstring& text) const {
        SIZE size{};
        GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
        return size.cx;
    }
    operator HDC() const { return dc_; }

private:
    HDC dc_ = CreateCompatibleDC(nullptr);
    HFONT font_;
    HGDIOBJ previous_;
};

std::wstring Fit(HDC dc, const std::wstring& text, int width) {
    std::vector<wchar_t> output(text.size() + 3, L'#');
    FitTextToWidth(output.data(), text.c_str(), dc, width);
    return output.data();
}

// Bold at a caption's size in a proportional face: the caption font that Wine draws with
// here, IPAGothic, is fixed-pitch.
HFONT CaptionFont() {
    return CreateFontW(-11, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                       L"IPAPGothic");
}

// The widest middle-shortened form that fits wins, the larger half kept at the end. In the
// fixed-pitch font every form's width is its length; in a proportional face at the caption's
// size a wide character in the middle lets the first shortened forms, barely shorter, fit.
TEST(FitTextToWidth, ShortensInTheMiddleToTheWidestFormThatFits) {
    const FontDc fixed(static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT)));
    const FontDc caption(CaptionFont());
    const std::wstring text = L"ABCDEFGHIJ", wide = L"Lumenfall WWWWWW 1.02";
    const struct {
        const FontDc& font;
        std::wstring text;
        const wchar_t* width;  // fit to the width of this text, less `less`; null: width -1
        int less;
        std::wstring expected;
    } rows[] = {
        {fixed, text, L"ABCDEFGHIJ", 0, text},
        {fixed, text, L"ABC...HIJ", 0, L"ABC...HIJ"},
        {fixed, text, L"ABC...HIJ", 1, L"AB...HIJ"},
        {fixed, text, L"...J", 0, L"...J"},
        {fixed, text, L"...", 0, text},  // no form fits
        {fixed, text, nullptr, 0, text},
        {fixed, L"AB", L"A", 0, L"AB"},  // two characters have no shorter form
        {caption, wide, L"Lumenfall...WWWWW 1.02", 0, L"Lumenfall...WWWWW 1.02"},
        {caption, wide, L"Lumenfall...WWWW 1.02", 0, L"Lumenfall...WWWW 1.02"},
    };
    for (const auto& row : rows) {
        const int width = row.width ? row.font.Width(row.width) - row.less : -1;
        EXPECT_EQ(Fit(row.font, row.text, width), row.expected) << row.width;
    }
    EXPECT_EQ(Fit(nullptr, text, 100), text);  // nothing to measure with
    // The longest caption stays inside its buffer of length + 3.
    const std::wstring longest = std::wstring(511, L'a') + L'M' + std::wstring(511, L'z');
    std::vector<wchar_t> output(1026 + 8, L'#');
    FitTextToWidth(output.data(), longest.c_str(), fixed, fixed.Width(std::wstring(400, L'a')));
    EXPECT_EQ(std::wstring(output.begin() + 1026, output.end()), std::wstring(8, L'#'));
    EXPECT_EQ(std::wcslen(output.data()), 400u);
}

}  // namespace
