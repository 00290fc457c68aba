#pragma once

namespace platform {

// Lets the event loop process pending events, but at most once per time slice (a few
// milliseconds). Long loops call it after every entry: the window stays responsive and a
// 100,000-entry loop does not pay for 100,000 passes through the event loop.
void ProcessMessagesSliced();

// Processes pending events now, whatever the time slice says.
void ProcessMessages();

} // namespace platform
