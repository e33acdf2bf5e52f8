// The Qt backend's own parts of the framework: dialog units in pixels, filters in Qt's form.

#include <gtest/gtest.h>

#include <QFont>

#include "ui/framework/qt/dialog_window.h"
#include "ui/framework/qt/file_filter.h"

namespace {

TEST(CDialogUnits, ConvertLikeWindowsForMsSansSerif) {
    // MS Sans Serif 8 pt at 96 dpi has the base units 6 and 13.
    const CDialogUnits units(6, 13);
    EXPECT_EQ(units.ToPixels(263, 55, 50, 17), QRect(395, 89, 75, 28));
    EXPECT_EQ(units.ToPixels(0, 0, 320, 79), QRect(0, 0, 480, 128));
    EXPECT_EQ(units.ToPixels(7, 7, 44, 11), QRect(11, 11, 66, 18));
}

TEST(CDialogUnits, FollowTheFontSoTheLayoutKeepsItsProportions) {
    QFont small;
    small.setPointSize(8);
    QFont large = small;
    large.setPointSize(16);
    const CDialogUnits a = CDialogUnits::ForFont(small), b = CDialogUnits::ForFont(large);
    EXPECT_GT(a.baseX(), 3);
    EXPECT_GT(a.baseY(), 8);
    EXPECT_NEAR(static_cast<double>(b.baseX()) / a.baseX(), 2.0, 0.35);
    EXPECT_NEAR(static_cast<double>(b.baseY()) / a.baseY(), 2.0, 0.35);
}

TEST(CFileDialog, FilterTakesQtForm) {
    EXPECT_EQ(QtFilterFromFrameworkFilter("Softzertifikate (*.pfx,*.p12)|*.pfx; *.p12||"),
              "Softzertifikate (*.pfx,*.p12) (*.pfx *.p12)");
    EXPECT_EQ(QtFilterFromFrameworkFilter("A|*.a|B|*.b;*.c||"), "A (*.a);;B (*.b *.c)");
    EXPECT_EQ(QtFilterFromFrameworkFilter(nullptr), "");
}

}  // namespace
