#pragma once
// How a file is stored on Windows, as far as a replacement must keep it: encrypted (EFS) and
// compressed. Neither is an attribute that can be set; the new file gets them otherwise, and
// they are checked once it has.

#include "buffer/file_replacement.h"

// What the new file lacks of how the target is stored: None, or why it cannot take the
// target's place. A file the folder encrypts stays encrypted: more protection loses nothing.
constexpr ReplaceProblem StorageKept(DWORD target, DWORD replacement) noexcept {
    if ((target & FILE_ATTRIBUTE_ENCRYPTED) != 0 && (replacement & FILE_ATTRIBUTE_ENCRYPTED) == 0) {
        return ReplaceProblem::EncryptionNotKept;
    }
    if (((target ^ replacement) & FILE_ATTRIBUTE_COMPRESSED) != 0) {
        return ReplaceProblem::AttributesNotKept;
    }
    return ReplaceProblem::None;
}
