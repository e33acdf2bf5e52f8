// What the framework shares between its backends: strings, the dialog manager's rules, the
// file dialog's default extension.

#include <gtest/gtest.h>

#include <array>

#include "res/dialog_templates.h"
#include "res/resource.h"
#include "tests/support/test_files.h"
#include "ui/framework/cstring.h"
#include "ui/framework/dialog_manager.h"
#include "ui/framework/file_dialog.h"

namespace {

TEST(CString, IsNeverNullAndCopiesItsBytes) {
    CString empty;
    EXPECT_STREQ(empty, "");
    CString fromNull(static_cast<const char*>(nullptr));
    EXPECT_STREQ(fromNull, "");
    CString pin("Grüße€");
    CString copy = pin;
    pin.Empty();
    EXPECT_STREQ(pin, "");
    EXPECT_TRUE(pin.IsEmpty());
    EXPECT_STREQ(copy, "Grüße€");
    EXPECT_EQ(copy.GetLength(), 10);
    copy = static_cast<const char*>(copy);  // assigning itself keeps it
    EXPECT_STREQ(copy, "Grüße€");
}

std::span<const DialogItem> ItemsOf(int id) {
    return FindDialogTemplate(id)->items;
}

std::vector<ControlState> AllShown(std::size_t count) {
    return std::vector<ControlState>(count, ControlState{true, true});
}

// Index of the control with the id in its template.
std::size_t IndexOf(std::span<const DialogItem> items, int id) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].id == id) {
            return i;
        }
    }
    ADD_FAILURE() << "no control " << id;
    return items.size();
}

int Next(int templateId, int from, bool backwards, const std::vector<ControlState>& states = {}) {
    const auto items = ItemsOf(templateId);
    const std::size_t to = NextInGroup(items, states.empty() ? AllShown(items.size()) : states,
                                       IndexOf(items, from), backwards);
    return items[to].id;
}

TEST(DialogManager, ArrowsMoveWithinTheGroupThatWsGroupBounds) {
    // Main window: "Beenden" alone, then the label's group with the file field, "...",
    // "Ausführen" and "PIN ändern".
    EXPECT_EQ(Next(IDD_MAIN, IDC_BUTTON_RUN, false), IDC_RADIO_CHANGE_PIN);
    EXPECT_EQ(Next(IDD_MAIN, IDC_RADIO_CHANGE_PIN, true), IDC_BUTTON_RUN);
    // Past the end it wraps to the start of the group, skipping the label.
    EXPECT_EQ(Next(IDD_MAIN, IDC_RADIO_CHANGE_PIN, false), IDC_EDIT_FILE);
    EXPECT_EQ(Next(IDD_MAIN, IDC_EDIT_FILE, true), IDC_RADIO_CHANGE_PIN);
    EXPECT_EQ(Next(IDD_MAIN, IDOK, false), IDOK);
    EXPECT_EQ(Next(IDD_MAIN, IDOK, true), IDOK);
    // PIN dialog: the two buttons form the first group; each label starts one of its own.
    EXPECT_EQ(Next(IDD_CHANGE_PIN, IDOK, false), IDCANCEL);
    EXPECT_EQ(Next(IDD_CHANGE_PIN, IDCANCEL, false), IDOK);
    EXPECT_EQ(Next(IDD_CHANGE_PIN, IDC_EDIT_OLD_PIN, false), IDC_EDIT_OLD_PIN);
}

TEST(DialogManager, ArrowsSkipDisabledAndHiddenControls) {
    const auto items = ItemsOf(IDD_MAIN);
    std::vector<ControlState> states = AllShown(items.size());
    states[IndexOf(items, IDC_RADIO_CHANGE_PIN)].enabled = false;
    states[IndexOf(items, IDC_EDIT_FILE)].visible = false;
    EXPECT_EQ(Next(IDD_MAIN, IDC_BUTTON_RUN, false, states), IDC_BUTTON_BROWSE);
    EXPECT_EQ(Next(IDD_MAIN, IDC_BUTTON_BROWSE, true, states), IDC_BUTTON_RUN);
    states[IndexOf(items, IDC_BUTTON_BROWSE)].enabled = false;
    EXPECT_EQ(Next(IDD_MAIN, IDC_BUTTON_RUN, false, states), IDC_BUTTON_RUN);
}

TEST(DialogManager, EditsKeepTheArrowsAndOnlyAnAutoRadioIsCheckedOnArrival) {
    const auto items = ItemsOf(IDD_MAIN);
    EXPECT_FALSE(ArrowsMoveFocusFrom(items[IndexOf(items, IDC_EDIT_FILE)]));
    EXPECT_TRUE(ArrowsMoveFocusFrom(items[IndexOf(items, IDC_BUTTON_RUN)]));
    EXPECT_TRUE(ArrowsMoveFocusFrom(items[IndexOf(items, IDC_RADIO_CHANGE_PIN)]));
    EXPECT_TRUE(IsAutoRadioButton(items[IndexOf(items, IDC_RADIO_CHANGE_PIN)]));
    EXPECT_FALSE(IsAutoRadioButton(items[IndexOf(items, IDC_BUTTON_RUN)]));
    const DialogItem plainRadio{7,  ControlKind::RadioButton, "x", 0, 0, 1, 1,
                                0x4 /*BS_RADIOBUTTON*/};
    EXPECT_FALSE(IsAutoRadioButton(plainRadio));
}

TEST(DialogManager, EditsAreNamedByTheLabelBeforeThem) {
    const auto main = ItemsOf(IDD_MAIN);
    EXPECT_STREQ(AccessibleNameOf(main, IndexOf(main, IDC_EDIT_FILE)), "Softzertifikat (Datei):");
    EXPECT_STREQ(AccessibleNameOf(main, IndexOf(main, IDC_BUTTON_BROWSE)), "Durchsuchen");
    EXPECT_EQ(AccessibleNameOf(main, IndexOf(main, IDC_BUTTON_RUN)), nullptr);
    const auto pin = ItemsOf(IDD_CHANGE_PIN);
    EXPECT_STREQ(AccessibleNameOf(pin, IndexOf(pin, IDC_EDIT_OLD_PIN)), "Alte PIN:");
    EXPECT_STREQ(AccessibleNameOf(pin, IndexOf(pin, IDC_EDIT_NEW_PIN)), "Neue PIN:");
    EXPECT_STREQ(AccessibleNameOf(pin, IndexOf(pin, IDC_EDIT_NEW_PIN_REPEAT)), "Neue PIN (Wdh.):");
    // An edit without a label before it has no name of its own.
    const std::array<DialogItem, 2> unlabelled = {{
        {1, ControlKind::PushButton, "OK", 0, 0, 1, 1, WS_TABSTOP},
        {2, ControlKind::Edit, "", 0, 0, 1, 1, WS_TABSTOP},
    }};
    EXPECT_EQ(AccessibleNameOf(unlabelled, 1), nullptr);
}

TEST(CFileDialog, TheDefaultExtensionIsAddedOnlyToANewNameWithoutOne) {
    const testing_support::TempDir dir;
    testing_support::WriteAll(dir / "zertifikat", "x");
    EXPECT_EQ(WithDefaultExtension(dir / "zertifikat", "*.p12"), dir / "zertifikat");
    EXPECT_EQ(WithDefaultExtension(dir / "neu", "*.p12"), dir / "neu.p12");
    EXPECT_EQ(WithDefaultExtension(dir / "neu", "p12"), dir / "neu.p12");
    EXPECT_EQ(WithDefaultExtension(dir / "neu.pfx", "*.p12"), dir / "neu.pfx");
    EXPECT_EQ(WithDefaultExtension(dir / "neu", nullptr), dir / "neu");
}

}  // namespace
