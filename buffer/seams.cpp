#include "buffer/seams.h"

namespace buffer_seams {

void Pausing() noexcept {}

}  // namespace buffer_seams
