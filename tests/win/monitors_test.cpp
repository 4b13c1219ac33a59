#include "ui/monitors.h"

#include <gtest/gtest.h>

#include <vector>

// Found by argument-dependent lookup, so at global scope like RECT itself.
static bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

static std::ostream& operator<<(std::ostream& out, const RECT& r) {
    return out << '(' << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ')';
}

namespace {

void AddMonitor(const RECT& rect) {
    RECT copy = rect;
    EXPECT_TRUE(MonitorEnumProc(nullptr, nullptr, &copy, 0));
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override { FreeMonitorList(); }
    void TearDown() override {
        FreeMonitorList();
        for (HWND window : windows_) DestroyWindow(window);
    }

    // A visible borderless window of exactly the given size, away from where it will go.
    HWND Window(int width, int height) {
        HWND window = CreateWindowExW(0, L"Static", L"", WS_POPUP | WS_VISIBLE, 3, 5, width, height,
                                      nullptr, nullptr, nullptr, nullptr);
        windows_.push_back(window);
        RECT rect{};
        GetWindowRect(window, &rect);
        EXPECT_EQ(rect.right - rect.left, width);
        EXPECT_EQ(rect.bottom - rect.top, height);
        return window;
    }

    static RECT Placed(HWND window) {
        RECT rect{};
        GetWindowRect(window, &rect);
        return rect;
    }

    // The screen Wine shows, as the system describes its primary monitor.
    static RECT PrimaryMonitor() {
        MONITORINFO info{};
        info.cbSize = sizeof(info);
        GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
        return info.rcMonitor;
    }

private:
    std::vector<HWND> windows_;
};

TEST_F(MonitorTest, BuildRecordsEachMonitorAndAppendsOnEveryCall) {
    BuildMonitorList();
    const size_t count = static_cast<size_t>(GetSystemMetrics(SM_CMONITORS));
    ASSERT_EQ(MonitorList.size(), count);
    ASSERT_GE(count, 1u);
    RECT bounds{};
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(MonitorList[i].index, static_cast<int32_t>(i));
        UnionRect(&bounds, &bounds, &MonitorList[i].rect);
    }
    const RECT virtualScreen{
        GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
        GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
        GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    EXPECT_EQ(bounds, virtualScreen);
    if (count == 1) {
        EXPECT_EQ(MonitorList[0].rect, PrimaryMonitor());
    }

    // A second build does not empty the list; its entries continue the numbering.
    BuildMonitorList();
    ASSERT_EQ(MonitorList.size(), 2 * count);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(MonitorList[count + i].index, static_cast<int32_t>(count + i));
        EXPECT_EQ(MonitorList[count + i].rect, MonitorList[i].rect);
    }
}

TEST_F(MonitorTest, EntriesAreNumberedInReportedOrderAndFoundByIndex) {
    const RECT left{-1920, 0, 0, 1080}, middle{0, 0, 1280, 1024}, right{1280, -200, 3840, 1240};
    AddMonitor(left);
    AddMonitor(middle);
    AddMonitor(right);
    ASSERT_EQ(MonitorList.size(), 3u);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(MonitorList[i].index, i);

    RECT found{};
    EXPECT_EQ(GetMonitorRect(&found, 0), 1);
    EXPECT_EQ(found, left);
    EXPECT_EQ(GetMonitorRect(&found, 2), 1);
    EXPECT_EQ(found, right);
    EXPECT_EQ(GetMonitorRect(&found, 1), 1);
    EXPECT_EQ(found, middle);

    const RECT untouched{7, 8, 9, 10};
    for (int32_t missing : {3, -1, INT32_MAX}) {
        RECT out = untouched;
        EXPECT_EQ(GetMonitorRect(&out, missing), 0) << missing;
        EXPECT_EQ(out, untouched) << missing;
    }
}

TEST_F(MonitorTest, FreeEmptiesTheListAndNumberingStartsAgain) {
    AddMonitor(RECT{0, 0, 800, 600});
    AddMonitor(RECT{800, 0, 1600, 600});
    FreeMonitorList();
    EXPECT_TRUE(MonitorList.empty());
    RECT out{1, 2, 3, 4};
    EXPECT_EQ(GetMonitorRect(&out, 0), 0);
    EXPECT_EQ(out, (RECT{1, 2, 3, 4}));
    FreeMonitorList();  // freeing an empty list is harmless

    AddMonitor(RECT{800, 0, 1600, 600});
    ASSERT_EQ(MonitorList.size(), 1u);
    EXPECT_EQ(MonitorList[0].index, 0);
}

TEST_F(MonitorTest, CentresByTheRealMonitorKeepingTheSize) {
    BuildMonitorList();
    const RECT m = MonitorList.at(0).rect;
    const int mw = m.right - m.left, mh = m.bottom - m.top;
    struct {
        int width, height;
    } sizes[] = {{400, 200}, {401, 201}, {mw, mh}, {mw + 3, mh + 21}, {1, 1}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << size.width << 'x' << size.height);
        HWND window = Window(size.width, size.height);
        CenterWindowOnMonitor(window);
        // Truncation toward zero: -21 / 2 is -10, not -11.
        const int x = (mw - size.width) / 2, y = (mh - size.height) / 2;
        EXPECT_EQ(Placed(window), (RECT{x, y, x + size.width, y + size.height}));
    }
    // Xvfb's one screen of 1280 x 1024, as the test session starts it.
    if (m == RECT{0, 0, 1280, 1024}) {
        HWND window = Window(400, 200);
        CenterWindowOnMonitor(window);
        EXPECT_EQ(Placed(window), (RECT{440, 412, 840, 612}));
    }
}

TEST_F(MonitorTest, OffsetsCountFromTheVirtualScreenOriginNotTheMonitorCorner) {
    AddMonitor(RECT{1280, 0, 3200, 1080});
    AddMonitor(RECT{0, 0, 1280, 1024});
    HWND window = Window(400, 200);
    CenterWindowOnMonitor(window);
    EXPECT_EQ(Placed(window), (RECT{760, 440, 1160, 640}));

    FreeMonitorList();
    AddMonitor(RECT{0, 0, 1920, 1080});
    HWND tall = Window(300, 1101);
    CenterWindowOnMonitor(tall);
    EXPECT_EQ(Placed(tall), (RECT{810, -10, 1110, 1091}));
}

TEST_F(MonitorTest, CentredWindowComesToTheTop) {
    AddMonitor(RECT{0, 0, 1920, 1080});
    HWND lower = Window(400, 200);
    HWND upper = Window(400, 200);
    SetWindowPos(upper, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    CenterWindowOnMonitor(lower);
    HWND first = GetTopWindow(nullptr);
    while (first != nullptr && first != lower && first != upper)
        first = GetWindow(first, GW_HWNDNEXT);
    EXPECT_EQ(first, lower);
}

TEST_F(MonitorTest, WithoutMonitorsCentresByThePrimaryScreen) {
    HWND window = Window(400, 200);
    CenterWindowOnMonitor(window);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - 400) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - 200) / 2;
    EXPECT_EQ(Placed(window), (RECT{x, y, x + 400, y + 200}));
}

}  // namespace
