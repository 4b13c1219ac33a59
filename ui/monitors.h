// The rectangles of the display monitors, recorded once per run so the progress dialog can be
// centred by the first monitor the system reports.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32.h"

namespace updater {

struct MonitorEntry {
    int32_t index;  // 0 for the first monitor reported, then one more for each later one
    RECT rect;      // as the enumeration reports it, in virtual-screen coordinates
};

// Entries in the order the system reported the monitors; empty until BuildMonitorList.
extern std::vector<MonitorEntry> MonitorList;

// Appends one entry per display monitor. Does not empty the list first.
void BuildMonitorList();

// The enumeration callback of BuildMonitorList: appends a copy of `rect`. Always TRUE.
BOOL CALLBACK MonitorEnumProc(HMONITOR monitor, HDC dc, LPRECT rect, LPARAM data);

// Copies the rectangle of the entry with `index` to `rect` (1); 0 and `rect` untouched when
// no entry has that index.
int GetMonitorRect(RECT* rect, int32_t index);

// Releases every entry.
void FreeMonitorList();

// Moves `window`, keeping its size, to the centred offsets computed from the size of the
// first monitor in the list, counted from the virtual screen's origin, and to the top of the
// Z order.
void CenterWindowOnMonitor(HWND window);

}  // namespace updater
