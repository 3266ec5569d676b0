// Waits while the windows stay responsive, giving up as soon as a stop flag
// turns true.
#pragma once

namespace logdesk {

// Runs the event loop for `milliseconds`, checking `stop` every 10 ms (and
// before starting: a wait of 0 ms, or one begun with the flag set, returns at
// once). Handlers that run meanwhile may set the flag. GUI thread only.
void PausableWait(int milliseconds, const bool& stop);

} // namespace logdesk
