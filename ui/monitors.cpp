#include "ui/monitors.h"

namespace updater {

std::vector<MonitorEntry> MonitorList;

void BuildMonitorList() {
    EnumDisplayMonitors(nullptr, nullptr, MonitorEnumProc, 0);
}

BOOL CALLBACK MonitorEnumProc(HMONITOR, HDC, LPRECT rect, LPARAM) {
    MonitorEntry entry{};
    entry.index = MonitorList.empty() ? 0 : MonitorList.back().index + 1;
    if (rect != nullptr) entry.rect = *rect;
    MonitorList.push_back(entry);
    return TRUE;
}

int GetMonitorRect(RECT* rect, int32_t index) {
    for (const MonitorEntry& entry : MonitorList) {
        if (entry.index == index) {
            *rect = entry.rect;
            return 1;
        }
    }
    return 0;
}

void FreeMonitorList() {
    // Give the memory back too, not just the entries.
    std::vector<MonitorEntry>().swap(MonitorList);
}

void CenterWindowOnMonitor(HWND window) {
    RECT w;
    if (!GetWindowRect(window, &w)) return;
    // With no monitor recorded, centre by the primary monitor, which is what the list holds
    // first on a one-monitor system.
    RECT m{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    GetMonitorRect(&m, 0);
    // The monitor's own corner is not added: the offsets count from the virtual screen's
    // origin. Computed wide so that absurd rectangles cannot overflow; division truncates
    // toward zero.
    const int64_t x = ((int64_t{m.right} - m.left) - (int64_t{w.right} - w.left)) / 2;
    const int64_t y = ((int64_t{m.bottom} - m.top) - (int64_t{w.bottom} - w.top)) / 2;
    SetWindowPos(window, HWND_TOP, static_cast<int32_t>(x), static_cast<int32_t>(y), 0, 0,
                 SWP_NOSIZE);
}

}  // namespace updater
