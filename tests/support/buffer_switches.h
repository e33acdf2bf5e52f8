#pragma once
// What test programs switch in the file replacement, through the seam only they link
// (buffer_seams.cpp).

namespace buffer_switches {

// `observer` (null: none) is called before each pause of a step that another program's hold
// refused, so that a test can let that program go once the step waits for it.
void SetPauseObserver(void (*observer)()) noexcept;

}  // namespace buffer_switches
