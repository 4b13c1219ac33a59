#include "ui/message_boxes.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "app/updater_state.h"

namespace {

// What a person would see in a box, read from another thread while the box is open.
struct SeenBox {
    bool found = false;
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;  // ids of the visible push buttons
    int defaultButton = 0;     // id of the one drawn as default
    HICON icon = nullptr;
    bool subclassed = false;
    int captionWidth = 0;  // CaptionTextWidth of the box as shown
};

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

HWND FindVisibleBox(DWORD thread, HWND except) {
    struct Search {
        HWND except, found;
    } search{except, nullptr};
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM data) -> BOOL {
            Search& search = *reinterpret_cast<Search*>(data);
            if (window == search.except || !IsWindowVisible(window)) return TRUE;
            if (ClassOf(window) != L"#32770") return TRUE;
            search.found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The box's subclass, when `window` has it: true with its reference data.
bool HasBoxSubclass(HWND window, DWORD_PTR* reference) {
    // The import library lacks GetWindowSubclass; comctl32 exports it as ordinal 411.
    using GetWindowSubclassFunction = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR*);
    static const auto getWindowSubclass =
        reinterpret_cast<GetWindowSubclassFunction>(reinterpret_cast<void*>(
            GetProcAddress(LoadLibraryW(L"comctl32.dll"), MAKEINTRESOURCEA(411))));
    return getWindowSubclass != nullptr &&
           getWindowSubclass(window, MessageBoxSubclassProc, 1, reference) != FALSE;
}

bool IsSubclassed(HWND window) {
    DWORD_PTR reference;
    return HasBoxSubclass(window, &reference);
}

SeenBox ReadBox(HWND box) {
    SeenBox seen;
    seen.found = true;
    seen.owner = GetWindow(box, GW_OWNER);
    seen.caption = TextOf(box);
    seen.text = TextOf(GetDlgItem(box, 0xFFFF));
    DWORD_PTR reference = 99;
    seen.subclassed = HasBoxSubclass(box, &reference) && reference == 0;
    seen.captionWidth = CaptionTextWidth(box);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        const std::wstring name = ClassOf(child);
        if (name == L"Static" && (style & SS_TYPEMASK) == SS_ICON)
            seen.icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        if (name != L"Button" || !IsWindowVisible(child)) continue;
        seen.buttons.push_back(GetDlgCtrlID(child));
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) seen.defaultButton = GetDlgCtrlID(child);
    }
    return seen;
}

// Shows a box through `show` on this thread while a second thread waits for it, records what
// it shows and presses the button `press`. `result` gets what `show` returned.
template <typename Show>
SeenBox RunBox(Show show, int press, int* result = nullptr) {
    const DWORD thread = GetCurrentThreadId();
    const HWND owner = ProgressDialogWindow;
    std::atomic<bool> returned{false};
    SeenBox seen;
    std::thread watcher([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!returned && std::chrono::steady_clock::now() < deadline) {
            if (HWND box = FindVisibleBox(thread, owner)) {
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
        dc_ = CreateCompatibleDC(nullptr);
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

private:
    HFONT font_;
    HDC dc_;
    HGDIOBJ previous_;
};

std::wstring LongTitle(size_t length) {
    std::wstring title = L"Lumenfall Update";
    for (int i = 0; title.size() < length; ++i) title += L' ' + std::to_wstring(i);
    title.resize(length - 4);
    return title + L" END";
}

// An empty modeless dialog, of class #32770 like the boxes, built from a template in memory.
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

class MessageBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::wmemcpy(savedTitle_, UpdaterTitle, 1024);
        SetTitle(L"Lumenfall");
        ProgressDialogWindow = nullptr;
    }
    void TearDown() override {
        if (ProgressDialogWindow) DestroyWindow(ProgressDialogWindow);
        ProgressDialogWindow = nullptr;
        std::wmemcpy(UpdaterTitle, savedTitle_, 1024);
    }
    static void SetTitle(const std::wstring& title) {
        ASSERT_LT(title.size(), 1024u);
        std::wmemcpy(UpdaterTitle, title.c_str(), title.size() + 1);
    }

private:
    wchar_t savedTitle_[1024];
};

TEST_F(MessageBoxTest, AskYesNoOffersYesAndNoWithNoAsDefault) {
    int result = 0;
    const SeenBox pressedNo =
        RunBox([] { return AskYesNo(ProgressDialogWindow, UpdaterTitle, L"Install the update?"); },
               IDNO, &result);
    ASSERT_TRUE(pressedNo.found);
    EXPECT_EQ(result, IDNO);
    EXPECT_EQ(pressedNo.text, L"Install the update?");
    EXPECT_EQ(pressedNo.caption, L"Lumenfall");
    EXPECT_EQ(pressedNo.buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(pressedNo.defaultButton, IDNO);
    EXPECT_EQ(pressedNo.icon, LoadIconA(nullptr, IDI_QUESTION));

    RunBox([] { return AskYesNo(ProgressDialogWindow, UpdaterTitle, L"Cancel?"); }, IDYES, &result);
    EXPECT_EQ(result, IDYES);
}

TEST_F(MessageBoxTest, WarningAndInformationOfferOneOkButton) {
    int result = 0;
    const SeenBox warning = RunBox(
        [] { return ShowWarning(ProgressDialogWindow, UpdaterTitle, L"Damaged."); }, IDOK, &result);
    ASSERT_TRUE(warning.found);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(warning.text, L"Damaged.");
    EXPECT_EQ(warning.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(warning.defaultButton, IDOK);
    EXPECT_EQ(warning.icon, LoadIconA(nullptr, IDI_WARNING));

    const SeenBox information =
        RunBox([] { return ShowInformation(ProgressDialogWindow, UpdaterTitle, L"Done."); }, IDOK,
               &result);
    ASSERT_TRUE(information.found);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(information.text, L"Done.");
    EXPECT_EQ(information.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(information.icon, LoadIconA(nullptr, IDI_INFORMATION));
}

TEST_F(MessageBoxTest, OwnedByTheProgressDialogOnlyWhileOneExists) {
    const SeenBox alone = RunBox(
        [] { return ShowWarning(ProgressDialogWindow, UpdaterTitle, L"No dialog yet."); }, IDOK);
    ASSERT_TRUE(alone.found);
    EXPECT_EQ(alone.owner, nullptr);

    ProgressDialogWindow = CreateEmptyDialog(L"Progress");
    ASSERT_NE(ProgressDialogWindow, nullptr);
    ShowWindow(ProgressDialogWindow, SW_SHOW);
    const SeenBox owned =
        RunBox([] { return AskYesNo(ProgressDialogWindow, UpdaterTitle, L"Cancel?"); }, IDNO);
    ASSERT_TRUE(owned.found);
    EXPECT_EQ(owned.owner, ProgressDialogWindow);
    // The box itself was subclassed, never its owner.
    EXPECT_TRUE(owned.subclassed);
    EXPECT_FALSE(IsSubclassed(ProgressDialogWindow));
    EXPECT_TRUE(IsWindowEnabled(ProgressDialogWindow));
}

TEST_F(MessageBoxTest, ShortTitleIsSetUnchanged) {
    SetTitle(L"Lumenfall 2.0");
    const SeenBox seen = RunBox(
        [] {
            return ShowInformation(ProgressDialogWindow, UpdaterTitle,
                                   L"The update was installed successfully.");
        },
        IDOK);
    ASSERT_TRUE(seen.found);
    ASSERT_LE(CaptionFontDc().Width(L"Lumenfall 2.0"), seen.captionWidth);
    EXPECT_TRUE(seen.subclassed);
    EXPECT_EQ(seen.caption, L"Lumenfall 2.0");
    EXPECT_EQ(MessageBoxHook, nullptr);
}

TEST_F(MessageBoxTest, LongTitleKeepsItsStartAndEndAndFillsTheCaption) {
    const CaptionFontDc font;
    for (size_t length : {300u, 1023u}) {
        SCOPED_TRACE(length);
        const std::wstring title = LongTitle(length);
        SetTitle(title);
        const SeenBox seen = RunBox(
            [] { return ShowWarning(ProgressDialogWindow, UpdaterTitle, L"Damaged."); }, IDOK);
        ASSERT_TRUE(seen.found);
        ASSERT_GT(seen.captionWidth, 0);
        ASSERT_GT(font.Width(title), seen.captionWidth) << "the title must not fit as it is";

        const size_t dots = seen.caption.find(L"...");
        ASSERT_NE(dots, std::wstring::npos) << seen.caption.c_str();
        const std::wstring head = seen.caption.substr(0, dots);
        const std::wstring tail = seen.caption.substr(dots + 3);
        EXPECT_EQ(title.compare(0, head.size(), head), 0) << seen.caption.c_str();
        ASSERT_LE(tail.size(), title.size());
        EXPECT_EQ(title.compare(title.size() - tail.size(), tail.size(), tail), 0);
        EXPECT_TRUE(tail.size() == head.size() || tail.size() == head.size() + 1);
        EXPECT_GE(tail.size(), 4u) << "the end of the title shows";
        EXPECT_LE(font.Width(seen.caption), seen.captionWidth);

        // Nothing wider was possible: keeping one more character no longer fits.
        const size_t kept = head.size() + tail.size() + 1;
        const std::wstring wider =
            title.substr(0, kept / 2) + L"..." + title.substr(title.size() - (kept - kept / 2));
        EXPECT_GT(font.Width(wider), seen.captionWidth) << wider.c_str();
    }
}

TEST_F(MessageBoxTest, HookLastsForOneDialogOnly) {
    const std::wstring title = LongTitle(400);
    SetTitle(title);
    RunBox([] { return AskYesNo(ProgressDialogWindow, UpdaterTitle, L"Install?"); }, IDYES);
    EXPECT_EQ(MessageBoxHook, nullptr);

    // A dialog created after a box keeps its caption: no hook is left to fit it.
    HWND dialog = CreateEmptyDialog(title.c_str());
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(IsSubclassed(dialog));
    EXPECT_EQ(TextOf(dialog), title);
    DestroyWindow(dialog);
}

TEST_F(MessageBoxTest, HookFitsTheFirstDialogAndIgnoresOtherWindows) {
    const std::wstring title = LongTitle(400);
    HWND plain = CreateWindowExW(0, L"Static", title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU, 0,
                                 0, 300, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(plain, nullptr);

    // A WM_INITDIALOG sent to a window that is no dialog spends the hook without subclassing.
    MessageBoxHook =
        SetWindowsHookExW(WH_CALLWNDPROC, MessageBoxHookProc, nullptr, GetCurrentThreadId());
    ASSERT_NE(MessageBoxHook, nullptr);
    SendMessageW(plain, WM_INITDIALOG, 0, 0);
    EXPECT_EQ(MessageBoxHook, nullptr);
    EXPECT_FALSE(IsSubclassed(plain));
    EXPECT_EQ(TextOf(plain), title);
    HWND later = CreateEmptyDialog(title.c_str());
    EXPECT_FALSE(IsSubclassed(later));
    DestroyWindow(later);
    DestroyWindow(plain);

    // Any dialog that comes first is subclassed and its caption fitted at its WM_INITDIALOG.
    MessageBoxHook =
        SetWindowsHookExW(WH_CALLWNDPROC, MessageBoxHookProc, nullptr, GetCurrentThreadId());
    HWND dialog = CreateEmptyDialog(L"");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(MessageBoxHook, nullptr);
    EXPECT_TRUE(IsSubclassed(dialog));
    SetWindowTextW(dialog, title.c_str());
    SendMessageW(dialog, WM_INITDIALOG, 0, 0);
    const std::wstring fitted = TextOf(dialog);
    EXPECT_NE(fitted.find(L"..."), std::wstring::npos);
    EXPECT_LE(CaptionFontDc().Width(fitted), CaptionTextWidth(dialog));
    // The subclass leaves at WM_DESTROY; the dialog procedure of the test ignores the message.
    SendMessageW(dialog, WM_DESTROY, 0, 0);
    EXPECT_FALSE(IsSubclassed(dialog));
    DestroyWindow(dialog);
}

// Top-level windows of one width and different caption buttons.
class CaptionTextWidthTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (HWND window : windows_) DestroyWindow(window);
    }
    HWND Window(DWORD style, DWORD extendedStyle = 0, int width = 500) {
        HWND window = CreateWindowExW(extendedStyle, L"Static", L"Lumenfall", WS_POPUP | style, 10,
                                      10, width, 120, nullptr, nullptr, nullptr, nullptr);
        ShowWindow(window, SW_SHOWNOACTIVATE);
        windows_.push_back(window);
        return window;
    }
    static int ButtonWidth(HWND window) {
        return GetSystemMetricsForDpi(SM_CXSIZE, GetDpiForWindow(window));
    }

private:
    std::vector<HWND> windows_;
};

TEST_F(CaptionTextWidthTest, EachVisibleCaptionButtonTakesOneButtonWidth) {
    HWND bare = Window(WS_CAPTION);
    const int full = CaptionTextWidth(bare);
    ASSERT_GT(full, 0);
    const int button = ButtonWidth(bare);
    ASSERT_GT(button, 0);

    EXPECT_EQ(CaptionTextWidth(Window(WS_CAPTION | WS_SYSMENU)), full - button);
    EXPECT_EQ(CaptionTextWidth(Window(WS_CAPTION | WS_SYSMENU, WS_EX_CONTEXTHELP)),
              full - 2 * button);
    EXPECT_EQ(CaptionTextWidth(Window(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)),
              full - 3 * button);
}

TEST_F(CaptionTextWidthTest, FollowsTheWindowWidthAndLeavesAMargin) {
    HWND narrow = Window(WS_CAPTION, 0, 400);
    HWND wide = Window(WS_CAPTION, 0, 650);
    EXPECT_EQ(CaptionTextWidth(wide) - CaptionTextWidth(narrow), 250);

    TITLEBARINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetTitleBarInfo(narrow, &info));
    const int titleBar = info.rcTitleBar.right - info.rcTitleBar.left;
    EXPECT_LE(titleBar, 400);
    EXPECT_EQ(CaptionTextWidth(narrow), titleBar - 5);
}

// A fixed-pitch font makes every candidate's width its length times one cell.
class FitTextToWidthTest : public ::testing::Test {
protected:
    void SetUp() override {
        dc_ = CreateCompatibleDC(nullptr);
        previous_ = SelectObject(dc_, GetStockObject(ANSI_FIXED_FONT));
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc_, &metrics);
        ASSERT_EQ(metrics.tmPitchAndFamily & TMPF_FIXED_PITCH, 0) << "font is not fixed-pitch";
        cell_ = metrics.tmAveCharWidth;
        SIZE size{};
        GetTextExtentPoint32W(dc_, L"ABC...HIJ", 9, &size);
        ASSERT_EQ(size.cx, 9 * cell_);
    }
    void TearDown() override {
        SelectObject(dc_, previous_);
        DeleteDC(dc_);
    }
    std::wstring Fit(const std::wstring& text, int maxWidth) {
        std::vector<wchar_t> output(text.size() + 3, L'#');
        FitTextToWidth(output.data(), text.c_str(), dc_, maxWidth);
        return output.data();
    }

    HDC dc_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    int cell_ = 0;
};

TEST_F(FitTextToWidthTest, TextThatFitsIsKept) {
    EXPECT_EQ(Fit(L"ABCDEFGHIJ", 10 * cell_), L"ABCDEFGHIJ");
    EXPECT_EQ(Fit(L"ABCDEFGHIJ", 1000 * cell_), L"ABCDEFGHIJ");
    EXPECT_EQ(Fit(L"", 0), L"");
    EXPECT_EQ(Fit(L"", -1), L"");
}

TEST_F(FitTextToWidthTest, ShortensInTheMiddleKeepingTheLargerHalfAtTheEnd) {
    const struct {
        int cells;
        const wchar_t* expected;
    } cases[] = {
        {9, L"ABC...HIJ"}, {8, L"AB...HIJ"}, {7, L"AB...IJ"},
        {6, L"A...IJ"},    {5, L"A...J"},    {4, L"...J"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Fit(L"ABCDEFGHIJ", c.cells * cell_), c.expected) << c.cells;
        // One pixel less and that candidate no longer fits.
        EXPECT_NE(Fit(L"ABCDEFGHIJ", c.cells * cell_ - 1), c.expected) << c.cells;
    }
}

TEST_F(FitTextToWidthTest, WholeTextStaysWhenNothingFitsOrNoWidthIsKnown) {
    EXPECT_EQ(Fit(L"ABCDEFGHIJ", 3 * cell_), L"ABCDEFGHIJ");
    EXPECT_EQ(Fit(L"ABCDEFGHIJ", 0), L"ABCDEFGHIJ");
    EXPECT_EQ(Fit(L"ABCDEFGHIJ", -1), L"ABCDEFGHIJ");
    // One character is never shortened.
    EXPECT_EQ(Fit(L"W", 0), L"W");
    // "..." and the last character is the shortest form; two characters have no shorter one.
    EXPECT_EQ(Fit(L"AB", 1 * cell_), L"AB");
    // Without a font to measure with, nothing counts as fitting.
    std::wstring output(13, L'#');
    FitTextToWidth(&output[0], L"ABCDEFGHIJ", nullptr, 100);
    EXPECT_STREQ(output.c_str(), L"ABCDEFGHIJ");
}

TEST_F(FitTextToWidthTest, LongestCaptionStaysInsideItsBuffer) {
    const std::wstring text = std::wstring(511, L'a') + L'M' + std::wstring(511, L'z');
    ASSERT_EQ(text.size(), 1023u);
    for (int cells : {1026, 1023, 1022, 400, 4, 3}) {
        SCOPED_TRACE(cells);
        std::vector<wchar_t> output(1026 + 8, L'#');
        FitTextToWidth(output.data(), text.c_str(), dc_, cells * cell_);
        EXPECT_EQ(std::wstring(output.begin() + 1026, output.end()), std::wstring(8, L'#'));
        const std::wstring fitted = output.data();
        const size_t expected = cells < 4 ? text.size() : std::min<size_t>(cells, 1023);
        EXPECT_EQ(fitted.size(), expected);
        if (cells >= 5) {
            EXPECT_EQ(fitted.front(), L'a');
        }
        EXPECT_EQ(fitted.back(), L'z');
    }
}

}  // namespace
