#include "pkcs12/ber.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Octets = std::vector<unsigned char>;

ber::Bytes View(const Octets& bytes) {
    return ber::Bytes(bytes.data(), bytes.size());
}

Octets Of(const SecretBytes& bytes) {
    return Octets(bytes.data(), bytes.data() + bytes.size());
}

Octets Element(unsigned char tag, const Octets& content) {
    SecretBytes out;
    const unsigned char identifier[] = {tag};
    ber::AppendElement(out, identifier, View(content));
    return Of(out);
}

Octets Join(std::initializer_list<Octets> pieces) {
    Octets joined;
    for (const Octets& piece : pieces) {
        joined.insert(joined.end(), piece.begin(), piece.end());
    }
    return joined;
}

TEST(Ber, WritesDefiniteLengthsInTheirShortestForm) {
    EXPECT_EQ(Element(0x04, Octets(127, 0xAA)).size(), 2u + 127);
    EXPECT_EQ(Element(0x04, Octets(128, 0xAA))[1], 0x81);
    const Octets long_ = Element(0x04, Octets(256, 0xAA));
    EXPECT_EQ(Octets(long_.begin(), long_.begin() + 4), (Octets{0x04, 0x82, 0x01, 0x00}));
}

TEST(Ber, ReadsDefiniteAndIndefiniteLengths) {
    // SEQUENCE (indefinite) { OCTET STRING "ab", [0] (indefinite) { NULL } }
    const Octets bytes = {0x30, 0x80, 0x04, 0x02, 'a',  'b',  0xA0,
                          0x80, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00};
    const auto root = ber::ReadAt(View(bytes), 0);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->end, bytes.size());
    EXPECT_EQ(root->contentLength, bytes.size() - 4);
    const auto inside = ber::InsideOf(View(bytes), *root);
    ASSERT_TRUE(inside);
    ASSERT_EQ(inside->children.size(), 2u);
    EXPECT_TRUE(inside->children[0].Is(ber::kUniversal, ber::kOctetString));
    EXPECT_TRUE(inside->children[1].Is(ber::kContext, 0));
    EXPECT_EQ(inside->children[1].end, 12u);

    const Octets highTag = {0x9F, 0x81, 0x00, 0x01, 0x07};  // [128] IMPLICIT, one octet
    const auto element = ber::ReadAt(View(highTag), 0);
    ASSERT_TRUE(element);
    EXPECT_EQ(element->tag, 128u);
    EXPECT_EQ(element->identifierEnd, 3u);
}

TEST(Ber, RefusesDamage) {
    for (const Octets& damaged : std::vector<Octets>{
             {0x30, 0x03, 0x05, 0x00},                 // longer than the data
             {0x30, 0x80, 0x05, 0x00},                 // no end-of-contents octets
             {0x04, 0x80, 0x00, 0x00},                 // a primitive of indefinite length
             {0x30, 0x89, 1, 2, 3, 4, 5, 6, 7, 8, 9},  // a length beyond any size
             {0x00, 0x00},                             // end-of-contents where an element belongs
             {0x1F, 0x81, 0x81, 0x81, 0x81, 0x01, 0x00},  // a tag number beyond any used
         }) {
        EXPECT_FALSE(ber::ReadAll(View(damaged))) << damaged.size();
    }
    Octets deep;
    for (int i = 0; i <= ber::kMaxDepth + 1; ++i) {
        deep.insert(deep.begin(), {0x30, 0x80});
        deep.insert(deep.end(), {0x00, 0x00});
    }
    EXPECT_FALSE(ber::ReadAt(View(deep), 0));
}

TEST(Ber, JoinsTheOctetsOfAStringInPieces) {
    const Octets pieces = {0x24, 0x80, 0x04, 0x01, 'a', 0x24, 0x03, 0x04, 0x01, 'b', 0x00, 0x00};
    const auto element = ber::ReadAt(View(pieces), 0);
    ASSERT_TRUE(element);
    const auto octets = ber::OctetsOf(View(pieces), *element);
    ASSERT_TRUE(octets);
    EXPECT_EQ(Of(*octets), (Octets{'a', 'b'}));
    const Octets mixed = {0x24, 0x03, 0x05, 0x01, 'a'};  // a piece that is no OCTET STRING
    EXPECT_FALSE(ber::OctetsOf(View(mixed), *ber::ReadAt(View(mixed), 0)));
}

TEST(Ber, ReplacesOneElementAndKeepsEveryOtherByte) {
    const Octets before = Element(0x02, {0x01});
    const Octets after = {0x31, 0x80, 0x06, 0x01, 0x2A, 0x00, 0x00};  // BER, kept as it is
    const Octets old = Element(0x30, Element(0x04, {'o', 'l', 'd'}));
    const Octets bag = Element(0x30, Join({before, Element(0xA0, old), after}));
    const Octets fresh = Element(0x30, Element(0x04, Octets(200, 'n')));

    const auto replaced = ber::Replace(View(bag), std::vector<std::size_t>{1, 0}, View(fresh));
    ASSERT_TRUE(replaced);
    EXPECT_EQ(Of(*replaced), Element(0x30, Join({before, Element(0xA0, fresh), after})));
    EXPECT_FALSE(ber::Replace(View(bag), std::vector<std::size_t>{1, 1}, View(fresh)));
    EXPECT_FALSE(ber::Replace(View(bag), std::vector<std::size_t>{0, 0}, View(fresh)));
}

TEST(Ber, ReplacesWithinOctetStringsAndGivesContainersDefiniteLengths) {
    const Octets value = Element(0x30, Element(0x05, {}));
    const Octets fresh = Element(0x30, Element(0x04, {'n', 'e', 'u'}));
    // [0] (indefinite) { OCTET STRING { value } }, and the same string in two pieces.
    const Octets primitive = Join({{0xA0, 0x80}, Element(0x04, value), {0x00, 0x00}});
    const Octets split =
        Element(0xA0, Join({{0x24, 0x80},
                            Element(0x04, Octets(value.begin(), value.begin() + 1)),
                            Element(0x04, Octets(value.begin() + 1, value.end())),
                            {0x00, 0x00}}));
    const Octets expected = Element(0xA0, Element(0x04, fresh));
    for (const Octets& encoding : {primitive, split}) {
        const auto replaced =
            ber::Replace(View(encoding), std::vector<std::size_t>{0, 0}, View(fresh));
        ASSERT_TRUE(replaced);
        EXPECT_EQ(Of(*replaced), expected);
    }
}

TEST(Ber, TakesOctetsThatEncodeNoElementsForPlainData) {
    const Octets plain = Element(0x04, {0x01, 0x02, 0x03});
    EXPECT_FALSE(ber::InsideOf(View(plain), *ber::ReadAt(View(plain), 0)));
    const Octets empty = Element(0x04, {});
    EXPECT_FALSE(ber::InsideOf(View(empty), *ber::ReadAt(View(empty), 0)));
}

}  // namespace
