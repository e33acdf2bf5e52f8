#pragma once
// Whether two algorithm identifiers say the same but for their salts and IVs.

#include "pkcs12/ber.h"

namespace der {

// True when two encodings have the same structure and the same values apart from the contents
// of their OCTET STRINGs (salts and IVs): nothing about the algorithm differs. Definite and
// indefinite lengths, and strings in pieces or whole, count as the same.
bool SameExceptOctets(ber::Bytes first, ber::Bytes second) noexcept;

}  // namespace der
