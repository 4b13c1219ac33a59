#include "ui/monitors.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The first reported monitor's size gives the centred offsets, counted from the virtual
// screen's origin, not from that monitor's corner; halves are truncated toward zero. With no
// monitor reported, the primary screen counts. The window keeps its size.
TEST(Monitors, CentresByTheFirstReportedMonitorKeepingTheSize) {
    const int left = (GetSystemMetrics(SM_CXSCREEN) - 400) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - 200) / 2;
    const struct {
        std::vector<RECT> monitors;
        RECT expected;  // the window starts at 3, 5 with this size
    } rows[] = {
        {{{1280, 0, 3200, 1080}, {0, 0, 1280, 1024}}, {760, 440, 1160, 640}},
        {{{0, 0, 1920, 1080}}, {810, -10, 1110, 1091}},
        {{{0, 0, 1920, 1080}}, {759, 439, 1160, 640}},
        {{}, {left, top, left + 400, top + 200}},
    };
    for (const auto& row : rows) {
        const RECT& want = row.expected;
        FreeMonitorList();
        for (RECT rect : row.monitors) MonitorEnumProc(nullptr, nullptr, &rect, 0);
        HWND window =
            CreateWindowExW(0, L"Static", L"", WS_POPUP | WS_VISIBLE, 3, 5, want.right - want.left,
                            want.bottom - want.top, nullptr, nullptr, nullptr, nullptr);
        CenterWindowOnMonitor(window);
        RECT placed{};
        GetWindowRect(window, &placed);
        EXPECT_TRUE(EqualRect(&placed, &want)) << placed.left << ", " << placed.top;
        DestroyWindow(window);
    }
    FreeMonitorList();
}

}  // namespace
