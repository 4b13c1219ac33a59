#include "ui/message_boxes.h"

#include "app/progress_dialog.h"
#include "app/resource.h"
#include "app/updater_state.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window) {
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

bool IsSubclassed(HWND window) {
    // The import library lacks GetWindowSubclass; comctl32 exports it as ordinal 411.
    using GetWindowSubclassFunction = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR*);
    static const auto getWindowSubclass =
        reinterpret_cast<GetWindowSubclassFunction>(reinterpret_cast<void*>(
            GetProcAddress(LoadLibraryW(L"comctl32.dll"), MAKEINTRESOURCEA(411))));
    DWORD_PTR reference;
    return getWindowSubclass(window, MessageBoxSubclassProc, 1, &reference) != FALSE;
}

// What a person would see in a box, read from another thread while the box is open.
struct SeenBox {
    HWND owner = nullptr;
    std::wstring caption, text;
    std::vector<int> buttons;  // ids of the visible push buttons
    int defaultButton = 0;
    HICON icon = nullptr;
    bool subclassed = false;
    int captionWidth = 0;
};

SeenBox ReadBox(HWND box) {
    SeenBox seen;
    seen.owner = GetWindow(box, GW_OWNER);
    seen.caption = TextOf(box);
    seen.text = TextOf(GetDlgItem(box, 0xFFFF));
    seen.subclassed = IsSubclassed(box);
    seen.captionWidth = CaptionTextWidth(box);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (ClassOf(child) == L"Static" && (style & SS_TYPEMASK) == SS_ICON)
            seen.icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        if (ClassOf(child) != L"Button" || !IsWindowVisible(child)) continue;
        seen.buttons.push_back(GetDlgCtrlID(child));
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) seen.defaultButton = GetDlgCtrlID(child);
    }
    return seen;
}

// Shows a box through `show` on this thread while a second thread finds it, reads it and
// presses `press`; `result` gets what `show` returned.
template <typename Show>
SeenBox RunBox(Show show, int press, int* result = nullptr) {
    const DWORD thread = GetCurrentThreadId();
    std::atomic<bool> returned{false};
    SeenBox seen;
    std::thread watcher([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!returned && std::chrono::steady_clock::now() < deadline) {
            HWND box = nullptr;
            EnumThreadWindows(
                thread,
                [](HWND window, LPARAM found) -> BOOL {
                    if (!IsWindowVisible(window) || ClassOf(window) != L"#32770") return TRUE;
                    *reinterpret_cast<HWND*>(found) = window;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&box));
            if (box != nullptr && GetDlgItem(box, 0xFFFF) != nullptr) {
                seen = ReadBox(box);
                PostMessageW(GetDlgItem(box, press), BM_CLICK, 0, 0);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const int shown = show();
    returned = true;
    watcher.join();
    if (result) *result = shown;
    return seen;
}

// The caption font, as the boxes measure with it, in a memory device context.
class CaptionFontDc {
public:
    CaptionFontDc() {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof(metrics);
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        font_ = CreateFontIndirectW(&metrics.lfCaptionFont);
        previous_ = SelectObject(dc_, font_);
    }
    ~CaptionFontDc() {
        SelectObject(dc_, previous_);
        DeleteDC(dc_);
        DeleteObject(font_);
    }
    int Width(const std::wstring& text) const {
        SIZE size{};
        GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
        return size.cx;
    }
    std::wstring Fit(const std::wstring& text, int width) const {
        std::vector<wchar_t> output(text.size() + 3, L'#');
        FitTextToWidth(output.data(), text.c_str(), dc_, width);
        return output.data();
    }

private:
    HDC dc_ = CreateCompatibleDC(nullptr);
    HFONT font_;
    HGDIOBJ previous_;
};

// An empty modeless dialog, of class #32770 like the boxes.
HWND CreateEmptyDialog(const wchar_t* caption) {
    struct alignas(4) {
        DLGTEMPLATE header;
        WORD menu, windowClass, title;
    } dialog{};
    dialog.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    dialog.header.cx = 300;
    dialog.header.cy = 60;
    HWND window = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), &dialog.header, nullptr,
        [](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR { return message == WM_INITDIALOG; }, 0);
    SetWindowTextW(window, caption);
    return window;
}

TEST(MessageBoxes, EachBoxHasItsButtonsIconAndOwner) {
    HWND owner = CreateEmptyDialog(L"Progress");
    ShowWindow(owner, SW_SHOW);
    const struct {
        int (*show)(HWND, const wchar_t*, const wchar_t*);
        HWND owner;
        int press;
        std::vector<int> buttons;
        int defaultButton;
        LPCSTR icon;
    } rows[] = {
        {AskYesNo, nullptr, IDNO, {IDYES, IDNO}, IDNO, IDI_QUESTION},
        {AskYesNo, owner, IDYES, {IDYES, IDNO}, IDNO, IDI_QUESTION},
        {ShowWarning, nullptr, IDOK, {IDOK}, IDOK, IDI_WARNING},
        {ShowInformation, owner, IDOK, {IDOK}, IDOK, IDI_INFORMATION},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.icon == IDI_QUESTION ? "question" : "other");
        int result = 0;
        const SeenBox seen =
            RunBox([&] { return row.show(row.owner, L"Lumenfall", L"Text."); }, row.press, &result);
        EXPECT_EQ(result, row.press);
        EXPECT_EQ(seen.owner, row.owner);
        EXPECT_EQ(seen.caption, L"Lumenfall");
        EXPECT_EQ(seen.text, L"Text.");
        EXPECT_EQ(seen.buttons, row.buttons);
        EXPECT_EQ(seen.defaultButton, row.defaultButton);
        EXPECT_EQ(seen.icon, LoadIconA(nullptr, row.icon));
        // The box is subclassed, never its owner, and the hook is gone with the box.
        EXPECT_TRUE(seen.subclassed);
        EXPECT_FALSE(IsSubclassed(owner));
        EXPECT_EQ(MessageBoxHook, nullptr);
    }
    DestroyWindow(owner);
}

TEST(MessageBoxes, LongCaptionKeepsItsStartAndEndAndFillsTheTitleBar) {
    const CaptionFontDc font;
    for (size_t length : {300u, 1023u}) {
        SCOPED_TRACE(length);
        std::wstring title = L"Lumenfall Update";
        for (int i = 0; title.size() < length - 4; ++i) title += L' ' + std::to_wstring(i);
        title = title.substr(0, length - 4) + L" END";
        const SeenBox seen =
            RunBox([&] { return ShowWarning(nullptr, title.c_str(), L"D."); }, IDOK);
        ASSERT_GT(font.Width(title), seen.captionWidth) << "the title must not fit as it is";
        // Exactly what the fitting makes of it at the box's own width.
        EXPECT_EQ(seen.caption, font.Fit(title, seen.captionWidth));
        EXPECT_EQ(seen.caption.substr(seen.caption.size() - 3), L"END");
        EXPECT_LE(font.Width(seen.caption), seen.captionWidth);
    }
    // A dialog created after a box keeps its caption: no hook is left to fit it.
    HWND later = CreateEmptyDialog(std::wstring(400, L'x').c_str());
    EXPECT_FALSE(IsSubclassed(later));
    EXPECT_EQ(TextOf(later), std::wstring(400, L'x'));
    DestroyWindow(later);
}

// Cancel asks first: No changes nothing; Yes sets the flag and disables the button, and a
// click queued behind it asks nothing more.
TEST(ProgressDialog, CancelAsksAndYesDisablesTheButton) {
    ProgressDialogWindow = CreateEmptyDialog(L"Progress");
    HWND button = CreateWindowExW(0, L"Button", L"Cancel", WS_CHILD | WS_VISIBLE, 0, 0, 80, 20,
                                  ProgressDialogWindow, reinterpret_cast<HMENU>(IDC_CANCEL),
                                  nullptr, nullptr);
    auto click = [] {
        ProgressDialogProc(ProgressDialogWindow, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
        return 0;
    };
    EXPECT_EQ(RunBox(click, IDNO).text, L"Cancel the installation?");
    EXPECT_EQ(CancelRequested, 0);
    EXPECT_TRUE(IsWindowEnabled(button));
    RunBox(click, IDYES);
    EXPECT_EQ(CancelRequested, 1);
    EXPECT_FALSE(IsWindowEnabled(button));
    EXPECT_TRUE(RunBox(click, IDYES).text.empty()) << "asked again";

    // Alt+F4 is refused; closing the dialog ends the install.
    EXPECT_EQ(ProgressDialogProc(ProgressDialogWindow, WM_SYSCOMMAND, SC_CLOSE, 0), 1);
    ProgressDialogProc(ProgressDialogWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(InstallAborted, 1);
    EXPECT_EQ(ProgressDialogWindow, nullptr);
    EXPECT_FALSE(IsWindow(button));
    CancelRequested = InstallAborted = 0;
}

// A fixed-pitch font makes every candidate's width its length times one cell.
TEST(FitTextToWidth, ShortensInTheMiddleKeepingTheLargerHalfAtTheEnd) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, GetStockObject(ANSI_FIXED_FONT));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const int cell = metrics.tmAveCharWidth;
    auto fit = [&](const std::wstring& text, int width, HDC with) {
        std::vector<wchar_t> output(text.size() + 3, L'#');
        FitTextToWidth(output.data(), text.c_str(), with, width);
        return std::wstring(output.data());
    };
    const struct {
        int width;
        const wchar_t* expected;
    } rows[] = {
        {10 * cell, L"ABCDEFGHIJ"}, {9 * cell, L"ABC...HIJ"}, {9 * cell - 1, L"AB...HIJ"},
        {7 * cell, L"AB...IJ"},     {5 * cell, L"A...J"},     {4 * cell, L"...J"},
        {3 * cell, L"ABCDEFGHIJ"},  {-1, L"ABCDEFGHIJ"},
    };
    for (const auto& row : rows) EXPECT_EQ(fit(L"ABCDEFGHIJ", row.width, dc), row.expected);
    EXPECT_EQ(fit(L"AB", cell, dc), L"AB");  // two characters have no shorter form
    EXPECT_EQ(fit(L"ABCDEFGHIJ", 100, nullptr), L"ABCDEFGHIJ");  // nothing to measure with
    // The longest caption stays inside its buffer of length + 3.
    const std::wstring longest = std::wstring(511, L'a') + L'M' + std::wstring(511, L'z');
    std::vector<wchar_t> output(1026 + 8, L'#');
    FitTextToWidth(output.data(), longest.c_str(), dc, 400 * cell);
    EXPECT_EQ(std::wstring(output.begin() + 1026, output.end()), std::wstring(8, L'#'));
    EXPECT_EQ(std::wcslen(output.data()), 400u);
    SelectObject(dc, previous);
    DeleteDC(dc);
}

// With the real proportional caption font a wide character in the middle can make the
// first shortened forms narrower than the text itself: the widest one that fits wins.
TEST(FitTextToWidth, RealCaptionFontTakesTheFirstShortenedFormThatFits) {
    const CaptionFontDc font;
    const std::wstring text = L"Lumenfall WWWWWW 1.02";
    for (size_t removed : {2u, 3u}) {
        const size_t kept = text.size() - removed, head = kept / 2;
        const std::wstring form = text.substr(0, head) + L"..." + text.substr(head + removed);
        ASSERT_LT(font.Width(form), font.Width(text)) << "the form must be the narrower";
        EXPECT_EQ(font.Fit(text, font.Width(form)), form);
    }
}

}  // namespace
