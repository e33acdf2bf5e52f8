#include "pkcs12/ber.h"

#include <algorithm>
#include <cstdint>

namespace ber {
namespace {

// Reads the element at `offset` within `bytes[0, limit)`, descending `depth` levels at most to
// find the end of an indefinite length.
std::optional<Element> Read(Bytes bytes, std::size_t offset, std::size_t limit, int depth,
                            ReadBudget* budget);

// The elements from `offset` up to end-of-contents octets; where these end (after them).
std::optional<std::size_t> EndOfIndefinite(Bytes bytes, std::size_t offset, std::size_t limit,
                                           int depth, ReadBudget* budget) {
    while (offset + 2 <= limit) {
        if (bytes[offset] == 0 && bytes[offset + 1] == 0) {
            return offset + 2;
        }
        const auto child = Read(bytes, offset, limit, depth + 1, budget);
        if (!child) {
            return std::nullopt;
        }
        offset = child->end;
    }
    return std::nullopt;
}

bool ReadIdentifier(Bytes bytes, std::size_t& cursor, std::size_t limit, Element& element) {
    const unsigned char first = bytes[cursor++];
    element.tagClass = first & 0xC0;
    element.constructed = (first & 0x20) != 0;
    element.tag = first & 0x1F;
    if (element.tag != 0x1F) {
        return true;
    }
    element.tag = 0;
    // Tag numbers beyond 2^28 are no tag any PKCS#12 structure uses.
    for (int octets = 0; octets < 4 && cursor < limit; ++octets) {
        const unsigned char next = bytes[cursor++];
        element.tag = (element.tag << 7) | (next & 0x7F);
        if ((next & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

std::optional<Element> Read(Bytes bytes, std::size_t offset, std::size_t limit, int depth,
                            ReadBudget* budget) {
    if (budget != nullptr && (--budget->reads < 0 || depth > kMaxDepth)) {
        budget->tooDeep = budget->tooDeep || depth > kMaxDepth;
        return std::nullopt;
    }
    if (depth > kMaxDepth || offset >= limit || limit > bytes.size()) {
        return std::nullopt;
    }
    Element element;
    element.start = offset;
    std::size_t cursor = offset;
    if (!ReadIdentifier(bytes, cursor, limit, element) || cursor >= limit ||
        (element.tagClass == kUniversal && element.tag == 0)) {
        return std::nullopt;  // end-of-contents octets where an element belongs
    }
    element.identifierEnd = cursor;
    const unsigned char lengthOctet = bytes[cursor++];
    if (lengthOctet == 0x80) {
        if (!element.constructed) {
            return std::nullopt;
        }
        element.contentStart = cursor;
        const auto end = EndOfIndefinite(bytes, cursor, limit, depth, budget);
        if (!end) {
            return std::nullopt;
        }
        element.end = *end;
        element.contentLength = *end - 2 - cursor;
        return element;
    }
    std::size_t length = lengthOctet;
    if (lengthOctet > 0x80) {
        const std::size_t octets = lengthOctet & 0x7F;
        if (octets > sizeof(std::size_t) || octets > limit - cursor) {
            return std::nullopt;
        }
        length = 0;
        for (std::size_t i = 0; i < octets; ++i) {
            if (length > (SIZE_MAX >> 8)) {
                return std::nullopt;
            }
            length = (length << 8) | bytes[cursor++];
        }
    }
    if (length > limit - cursor) {
        return std::nullopt;
    }
    element.contentStart = cursor;
    element.contentLength = length;
    element.end = cursor + length;
    return element;
}

std::optional<std::vector<Element>> ReadRange(Bytes bytes, std::size_t from, std::size_t to,
                                              int depth) {
    std::vector<Element> elements;
    while (from < to) {
        auto element = Read(bytes, from, to, depth, nullptr);
        if (!element) {
            return std::nullopt;
        }
        from = element->end;
        elements.push_back(*element);
    }
    return elements;
}

bool JoinOctets(Bytes bytes, const Element& octets, int depth, SecretBytes& out) {
    if (!octets.constructed) {
        out.Append(bytes.data() + octets.contentStart, octets.contentLength);
        return true;
    }
    const auto pieces =
        ReadRange(bytes, octets.contentStart, octets.contentStart + octets.contentLength, depth);
    return pieces && std::all_of(pieces->begin(), pieces->end(), [&](const Element& piece) {
               return piece.Is(kUniversal, kOctetString) && depth < kMaxDepth &&
                      JoinOctets(bytes, piece, depth + 1, out);
           });
}

bool IsOctetString(const Element& element) {
    return element.Is(kUniversal, kOctetString);
}

// `element` rebuilt with each of `replacements` (paths relative to it, in order, none the
// beginning of another) in place, every element on the way with a definite length.
std::optional<SecretBytes> Rebuild(Bytes bytes, const Element& element,
                                   std::span<const Replacement> replacements) {
    if (replacements.front().path.empty()) {
        return replacements.size() == 1
                   ? std::optional<SecretBytes>(SecretBytes(replacements.front().bytes.data(),
                                                            replacements.front().bytes.size()))
                   : std::nullopt;
    }
    const auto inside = InsideOf(bytes, element);
    if (!inside) {
        return std::nullopt;
    }
    const bool inOctets = IsOctetString(element);
    const Bytes within = inOctets ? Bytes(inside->octets.data(), inside->octets.size()) : bytes;
    const std::size_t from = inOctets ? 0 : element.contentStart;
    const std::size_t to = inOctets ? within.size() : element.contentStart + element.contentLength;
    SecretBytes content;
    std::size_t cursor = from;
    for (std::size_t first = 0; first < replacements.size();) {
        const std::size_t index = replacements[first].path.front();
        std::vector<Replacement> below;
        std::size_t next = first;
        for (; next < replacements.size() && !replacements[next].path.empty() &&
               replacements[next].path.front() == index;
             ++next) {
            below.push_back({replacements[next].path.subspan(1), replacements[next].bytes});
        }
        if (next == first || index >= inside->children.size()) {
            return std::nullopt;
        }
        const Element& child = inside->children[index];
        if (child.start < cursor) {
            return std::nullopt;  // not in order
        }
        const auto rebuilt = Rebuild(within, child, below);
        if (!rebuilt) {
            return std::nullopt;
        }
        content.Append(within.data() + cursor, child.start - cursor);
        content.Append(rebuilt->data(), rebuilt->size());
        cursor = child.end;
        first = next;
    }
    content.Append(within.data() + cursor, to - cursor);
    static constexpr unsigned char kPrimitiveOctetString[] = {0x04};
    const Bytes identifier =
        inOctets ? Bytes(kPrimitiveOctetString)
                 : bytes.subspan(element.start, element.identifierEnd - element.start);
    SecretBytes out;
    AppendElement(out, identifier, Bytes(content.data(), content.size()));
    return out;
}

// Reads the children of `element` and, for those constructed, theirs, `depth` levels down.
bool ReadChildren(Bytes bytes, const Element& element, int depth, ReadBudget& budget) {
    if (!element.constructed || element.Is(kUniversal, kOctetString)) {
        return true;
    }
    if (depth > kMaxDepth) {
        budget.tooDeep = true;
        return false;
    }
    const std::size_t end = element.contentStart + element.contentLength;
    for (std::size_t offset = element.contentStart; offset < end;) {
        const auto child = Read(bytes, offset, end, 0, &budget);
        if (!child || !ReadChildren(bytes, *child, depth + 1, budget)) {
            return false;
        }
        offset = child->end;
    }
    return true;
}

}  // namespace

std::optional<Element> ReadAt(Bytes bytes, std::size_t offset, ReadBudget* budget) {
    return Read(bytes, offset, bytes.size(), 0, budget);
}

std::optional<Element> ReadWithin(Bytes bytes, std::size_t offset, std::size_t limit,
                                  ReadBudget* budget) {
    return Read(bytes, offset, limit, 0, budget);
}

bool ReadTree(Bytes bytes, ReadBudget& budget) {
    const auto root = ReadAt(bytes, 0, &budget);
    return root && root->end == bytes.size() && ReadChildren(bytes, *root, 1, budget);
}

std::optional<std::vector<Element>> ReadAll(Bytes bytes) {
    return ReadRange(bytes, 0, bytes.size(), 0);
}

std::optional<SecretBytes> OctetsOf(Bytes bytes, const Element& octets) {
    SecretBytes out;
    if (!IsOctetString(octets) || !JoinOctets(bytes, octets, 0, out)) {
        return std::nullopt;
    }
    return out;
}

std::optional<Inside> InsideOf(Bytes bytes, const Element& element) {
    Inside inside;
    if (IsOctetString(element)) {
        auto octets = OctetsOf(bytes, element);
        auto children = octets ? ReadAll(Bytes(octets->data(), octets->size())) : std::nullopt;
        if (!children || children->empty()) {
            return std::nullopt;
        }
        inside.octets = std::move(*octets);
        inside.children = std::move(*children);
        return inside;
    }
    if (!element.constructed) {
        return std::nullopt;
    }
    auto children =
        ReadRange(bytes, element.contentStart, element.contentStart + element.contentLength, 0);
    if (!children) {
        return std::nullopt;
    }
    inside.children = std::move(*children);
    return inside;
}

std::optional<SecretBytes> Replace(Bytes encoding, std::span<const Replacement> replacements) {
    const auto root = ReadAt(encoding, 0);
    if (!root || root->end != encoding.size() || replacements.empty()) {
        return std::nullopt;
    }
    return Rebuild(encoding, *root, replacements);
}

std::optional<SecretBytes> Replace(Bytes encoding, std::span<const std::size_t> path,
                                   Bytes replacement) {
    const Replacement one{path, replacement};
    return Replace(encoding, std::span<const Replacement>(&one, 1));
}

void AppendElement(SecretBytes& out, Bytes identifier, Bytes content) {
    unsigned char length[1 + sizeof(std::size_t)];
    std::size_t lengthOctets = 0;
    if (content.size() < 0x80) {
        length[lengthOctets++] = static_cast<unsigned char>(content.size());
    } else {
        std::size_t octets = 0;
        for (std::size_t rest = content.size(); rest != 0; rest >>= 8) {
            ++octets;
        }
        length[lengthOctets++] = static_cast<unsigned char>(0x80 | octets);
        for (std::size_t i = octets; i-- > 0;) {
            length[lengthOctets++] = static_cast<unsigned char>(content.size() >> (8 * i));
        }
    }
    out.Reserve(out.size() + identifier.size() + lengthOctets + content.size());
    out.Append(identifier.data(), identifier.size());
    out.Append(length, lengthOctets);
    out.Append(content.data(), content.size());
}

}  // namespace ber
