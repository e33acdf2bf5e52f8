#pragma once
// Reading BER (and so DER) element by element, and rewriting one element deep inside an
// encoding while every other byte stays as it was: a file's bags are written back as read,
// except for the values that are encrypted anew.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/secret.h"

namespace ber {

using Bytes = std::span<const unsigned char>;

// One element of an encoding, as offsets into it.
struct Element {
    std::size_t start = 0;          // its first identifier octet
    std::size_t identifierEnd = 0;  // after its identifier octets
    std::size_t contentStart = 0;   // after the identifier and length octets
    std::size_t contentLength = 0;  // without the end-of-contents octets of an indefinite length
    std::size_t end = 0;            // one past its last octet
    unsigned char tagClass = 0;     // the identifier's top two bits, as in its first octet
    bool constructed = false;
    unsigned long tag = 0;

    bool Is(unsigned char cls, unsigned long number) const noexcept {
        return tagClass == cls && tag == number;
    }
};

inline constexpr unsigned char kUniversal = 0x00;
inline constexpr unsigned char kContext = 0x80;
inline constexpr unsigned long kOctetString = 4;
inline constexpr unsigned long kObjectIdentifier = 6;
inline constexpr unsigned long kSequence = 16;
inline constexpr unsigned long kSet = 17;

// Deeper than any structure a PKCS#12 bag holds: a bound for hostile input.
inline constexpr int kMaxDepth = 48;

// What reading hostile input may cost: every element read, also those read again to find the
// end of an indefinite length, takes one of `reads`. Once none is left, or nesting goes beyond
// kMaxDepth, reads fail as they would on damage, and the budget says which it was.
struct ReadBudget {
    std::int64_t reads = 0;
    bool tooDeep = false;

    bool exhausted() const noexcept { return reads < 0; }
    bool failed() const noexcept { return tooDeep || exhausted(); }
};

// The element that starts at `offset` of `bytes`; null where it is damaged or runs past the end,
// or past `limit`.
std::optional<Element> ReadAt(Bytes bytes, std::size_t offset, ReadBudget* budget = nullptr);
std::optional<Element> ReadWithin(Bytes bytes, std::size_t offset, std::size_t limit,
                                  ReadBudget* budget);

// Whether `bytes` is one element, read with everything constructed inside it (not what OCTET
// STRINGs hold): the elements a decoder such as OpenSSL's makes of it, counted before it does.
bool ReadTree(Bytes bytes, ReadBudget& budget);

// The elements that fill `bytes` exactly, one after the other; null where they do not.
std::optional<std::vector<Element>> ReadAll(Bytes bytes);

// The bytes an OCTET STRING holds: a primitive's contents, or a constructed one's pieces
// joined. Null where it is damaged.
std::optional<SecretBytes> OctetsOf(Bytes bytes, const Element& octets);

// What an element holds inside: a constructed element's children, or the elements an OCTET
// STRING's octets encode (with the octets they lie in). Null where there are none.
struct Inside {
    SecretBytes octets;  // empty for a constructed element other than an OCTET STRING
    std::vector<Element> children;
};
std::optional<Inside> InsideOf(Bytes bytes, const Element& element);

// `encoding` (one element) with the element reached through `path` (child numbers as InsideOf
// counts them, from the outermost element) replaced by `replacement`. Every element on the way
// gets a definite length, an OCTET STRING on it a primitive one; everything else is kept byte
// for byte. Null where the path leads nowhere.
std::optional<SecretBytes> Replace(Bytes encoding, std::span<const std::size_t> path,
                                   Bytes replacement);

// The same for several elements at once, in one pass over `encoding`: their paths in the order
// of the elements, none leading into another.
struct Replacement {
    std::span<const std::size_t> path;
    Bytes bytes;
};
std::optional<SecretBytes> Replace(Bytes encoding, std::span<const Replacement> replacements);

// Appends an element of the identifier octets `identifier` and `content`, of definite length.
void AppendElement(SecretBytes& out, Bytes identifier, Bytes content);

}  // namespace ber
