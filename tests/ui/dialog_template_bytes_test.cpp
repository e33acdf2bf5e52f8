#include "ui/framework/dialog_template_bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

// Reads the block back as the dialog manager does, independently of how it was written.
class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}

    unsigned Word() {
        if (m_at + 2 > m_bytes.size()) {
            ADD_FAILURE() << "read past the end at " << m_at;
            return 0;
        }
        const unsigned value = m_bytes[m_at] | (m_bytes[m_at + 1] << 8);
        m_at += 2;
        return value;
    }
    std::uint32_t Dword() {
        const std::uint32_t low = Word();
        return low | (static_cast<std::uint32_t>(Word()) << 16);
    }
    unsigned Byte() { return m_at < m_bytes.size() ? m_bytes[m_at++] : 0; }
    std::u16string Text() {
        std::u16string text;
        for (unsigned unit = Word(); unit != 0; unit = Word()) {
            text += static_cast<char16_t>(unit);
        }
        return text;
    }
    void AlignToDword() { m_at = (m_at + 3) & ~std::size_t{3}; }
    std::size_t at() const { return m_at; }
    bool AtEnd() const { return m_at == m_bytes.size(); }

private:
    const std::vector<std::uint8_t>& m_bytes;
    std::size_t m_at = 0;
};

struct Item {
    std::uint32_t style;
    int x, y, cx, cy;
    std::uint32_t id;
    unsigned classAtom;
    std::u16string text;
    std::size_t offset;
};

std::vector<Item> ReadItems(Reader& in, unsigned count) {
    std::vector<Item> items;
    for (unsigned i = 0; i < count; ++i) {
        in.AlignToDword();
        Item item{};
        item.offset = in.at();
        EXPECT_EQ(in.Dword(), 0u);  // help id
        EXPECT_EQ(in.Dword(), 0u);  // extended style
        item.style = in.Dword();
        item.x = static_cast<int>(in.Word());
        item.y = static_cast<int>(in.Word());
        item.cx = static_cast<int>(in.Word());
        item.cy = static_cast<int>(in.Word());
        item.id = in.Dword();
        EXPECT_EQ(in.Word(), 0xFFFFu);  // class by ordinal
        item.classAtom = in.Word();
        item.text = in.Text();
        EXPECT_EQ(in.Word(), 0u);  // creation data
        items.push_back(item);
    }
    return items;
}

TEST(DialogTemplateBytes, MainWindowHeaderAsTheDialogManagerReadsIt) {
    const std::vector<std::uint8_t> bytes = DialogTemplateBytes(*FindDialogTemplate(IDD_MAIN));
    Reader in(bytes);
    EXPECT_EQ(in.Word(), 1u);
    EXPECT_EQ(in.Word(), 0xFFFFu);
    EXPECT_EQ(in.Dword(), 0u);
    EXPECT_EQ(in.Dword(), 0x00040000u);  // WS_EX_APPWINDOW
    // WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
    EXPECT_EQ(in.Dword(), 0x80000000u | 0x10000000u | 0x00C00000u | 0x00080000u | 0x80u | 0x40u);
    EXPECT_EQ(in.Word(), 6u);
    EXPECT_EQ(in.Word(), 0u);
    EXPECT_EQ(in.Word(), 0u);
    EXPECT_EQ(in.Word(), 320u);
    EXPECT_EQ(in.Word(), 79u);
    EXPECT_EQ(in.Word(), 0u);  // menu
    EXPECT_EQ(in.Word(), 0u);  // class
    EXPECT_EQ(in.Text(), u"Quintara(R) Tessaplan f\u00fcr Softzertifikate");
    EXPECT_EQ(in.Word(), 8u);  // points
    EXPECT_EQ(in.Word(), 0u);  // weight
    EXPECT_EQ(in.Byte(), 0u);  // italic
    EXPECT_EQ(in.Byte(), 1u);  // DEFAULT_CHARSET
    EXPECT_EQ(in.Text(), u"MS Shell Dlg");
    const std::vector<Item> items = ReadItems(in, 6);
    EXPECT_TRUE(in.AtEnd());
    for (const Item& item : items) {
        EXPECT_EQ(item.offset % 4, 0u);
        EXPECT_EQ(item.style & 0x50000000u, 0x50000000u);  // WS_CHILD | WS_VISIBLE
    }
    // "Beenden": BS_DEFPUSHBUTTON | WS_TABSTOP, a button.
    EXPECT_EQ(items[0].id, 1u);
    EXPECT_EQ(items[0].style, 0x50010001u);
    EXPECT_EQ(items[0].classAtom, 0x80u);
    EXPECT_EQ(items[0].text, u"Beenden");
    EXPECT_EQ((std::vector<int>{items[0].x, items[0].y, items[0].cx, items[0].cy}),
              (std::vector<int>{263, 55, 50, 17}));
    // The label: no id, a static with WS_GROUP.
    EXPECT_EQ(items[1].id, 0xFFFFFFFFu);
    EXPECT_EQ(items[1].classAtom, 0x82u);
    EXPECT_EQ(items[1].style, 0x50020000u);
    // The file field: an edit, WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, no tab stop.
    EXPECT_EQ(items[2].id, 1000u);
    EXPECT_EQ(items[2].classAtom, 0x81u);
    EXPECT_EQ(items[2].style, 0x50800880u);
    EXPECT_EQ(items[4].text, u"Ausf\u00fchren");
    // "PIN ändern": an auto radio button without tab stop or group.
    EXPECT_EQ(items[5].id, 1003u);
    EXPECT_EQ(items[5].classAtom, 0x80u);
    EXPECT_EQ(items[5].style, 0x50000009u);
    EXPECT_EQ(items[5].text, u"PIN \u00e4ndern");
}

TEST(DialogTemplateBytes, PinDialogIsHiddenUntilShownAndHasMaskedFields) {
    const std::vector<std::uint8_t> bytes =
        DialogTemplateBytes(*FindDialogTemplate(IDD_CHANGE_PIN));
    Reader in(bytes);
    in.Word();
    in.Word();
    in.Dword();
    EXPECT_EQ(in.Dword(), 0u);
    EXPECT_EQ(in.Dword(), 0x80000000u | 0x00C00000u | 0x00080000u | 0x80u | 0x40u);
    EXPECT_EQ(in.Word(), 8u);
    in.Word();
    in.Word();
    EXPECT_EQ(in.Word(), 285u);
    EXPECT_EQ(in.Word(), 90u);
    in.Word();
    in.Word();
    in.Text();
    in.Word();
    in.Word();
    in.Byte();
    in.Byte();
    in.Text();
    const std::vector<Item> items = ReadItems(in, 8);
    EXPECT_TRUE(in.AtEnd());
    EXPECT_EQ(items[1].id, 2u);
    EXPECT_EQ(items[1].text, u"Abbrechen");
    EXPECT_EQ(items[1].style, 0x50010000u);
    for (const std::size_t field : {3u, 5u, 7u}) {
        EXPECT_EQ(items[field].classAtom, 0x81u);
        // WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD
        EXPECT_EQ(items[field].style, 0x50810000u | 0x80u | 0x20u) << field;
    }
    EXPECT_EQ(items[7].id, 1006u);
    EXPECT_EQ(items[6].text, u"Neue PIN (Wdh.):");
}

}  // namespace
