#include "ui/monitors.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Placement {
    std::vector<RECT> monitors;  // as reported, in order; none: the primary screen counts
    int width, height;
    POINT expected;  // left and top; the size stays
};

// The first reported monitor's size gives the centred offsets, counted from the virtual
// screen's origin, not from that monitor's corner; halves are truncated toward zero.
TEST(Monitors, CentresByTheFirstReportedMonitorKeepingTheSize) {
    const int screenX = GetSystemMetrics(SM_CXSCREEN), screenY = GetSystemMetrics(SM_CYSCREEN);
    const Placement rows[] = {
        {{{1280, 0, 3200, 1080}, {0, 0, 1280, 1024}}, 400, 200, {760, 440}},
        {{{0, 0, 1920, 1080}}, 300, 1101, {810, -10}},
        {{{0, 0, 1920, 1080}}, 401, 201, {759, 439}},
        {{}, 400, 200, {(screenX - 400) / 2, (screenY - 200) / 2}},
    };
    for (const Placement& row : rows) {
        SCOPED_TRACE(row.height);
        FreeMonitorList();
        for (RECT rect : row.monitors) MonitorEnumProc(nullptr, nullptr, &rect, 0);
        HWND other = CreateWindowExW(0, L"Static", L"", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10,
                                     nullptr, nullptr, nullptr, nullptr);
        HWND window = CreateWindowExW(0, L"Static", L"", WS_POPUP | WS_VISIBLE, 3, 5, row.width,
                                      row.height, nullptr, nullptr, nullptr, nullptr);
        SetWindowPos(other, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        CenterWindowOnMonitor(window);
        RECT placed{};
        GetWindowRect(window, &placed);
        EXPECT_EQ(placed.left, row.expected.x);
        EXPECT_EQ(placed.top, row.expected.y);
        EXPECT_EQ(placed.right - placed.left, row.width);
        EXPECT_EQ(placed.bottom - placed.top, row.height);
        // And it comes to the top.
        HWND first = GetTopWindow(nullptr);
        while (first != nullptr && first != window && first != other)
            first = GetWindow(first, GW_HWNDNEXT);
        EXPECT_EQ(first, window);
        DestroyWindow(window);
        DestroyWindow(other);
    }
    FreeMonitorList();
}

}  // namespace
