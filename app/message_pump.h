// Draining the thread's message queue between units of installation work, so the progress
// dialog stays responsive and the user can cancel.
#pragma once

namespace updater {

// Retrieves and handles one message; 0 when the queue was empty. Throws the int 0 when it
// retrieves WM_QUIT (which is consumed).
int PumpOneMessage();

// Handles messages until the queue is empty (0), or until a quit message came or anything
// else was thrown while handling one (1).
int PumpMessages();

}  // namespace updater
