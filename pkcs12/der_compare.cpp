#include "pkcs12/der_compare.h"

#include <algorithm>
#include <new>

namespace der {
namespace {

// Deeper than any algorithm identifier: a bound for hostile input.
constexpr int kMaxNesting = 32;

bool SameElements(ber::Bytes first, const ber::Element& a, ber::Bytes second, const ber::Element& b,
                  int depth) {
    if (depth > kMaxNesting || a.tagClass != b.tagClass || a.tag != b.tag) {
        return false;
    }
    const bool octets = a.Is(ber::kUniversal, ber::kOctetString);
    if (octets) {
        return ber::OctetsOf(first, a).has_value() && ber::OctetsOf(second, b).has_value();
    }
    if (a.constructed != b.constructed) {
        return false;
    }
    if (!a.constructed) {
        const ber::Bytes x = first.subspan(a.contentStart, a.contentLength);
        const ber::Bytes y = second.subspan(b.contentStart, b.contentLength);
        return std::equal(x.begin(), x.end(), y.begin(), y.end());
    }
    const auto x = ber::InsideOf(first, a);
    const auto y = ber::InsideOf(second, b);
    if (!x || !y || x->children.size() != y->children.size()) {
        return false;
    }
    for (std::size_t i = 0; i < x->children.size(); ++i) {
        if (!SameElements(first, x->children[i], second, y->children[i], depth + 1)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool SameExceptOctets(ber::Bytes first, ber::Bytes second) noexcept {
    try {
        const auto a = ber::ReadAt(first, 0);
        const auto b = ber::ReadAt(second, 0);
        return a && b && a->end == first.size() && b->end == second.size() &&
               SameElements(first, *a, second, *b, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace der
