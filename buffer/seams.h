#pragma once
// Where test programs reach into the file replacement. The program links seams.cpp, whose
// definition does nothing; test programs link their own (tests/support/buffer_seams.cpp).

namespace buffer_seams {

// Called before each pause of a step that another program's hold refused.
void Pausing() noexcept;

}  // namespace buffer_seams
