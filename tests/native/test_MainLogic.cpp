// The main window's arithmetic and text rules, without a window.
#include <gtest/gtest.h>

#include "frmOrvUninstallMainLogic.h"
#include "platform/Text.h"

namespace velmora {
namespace {

TEST(ExtractIconPath, EveryFormOfADisplayIconValue) {
    const struct {
        std::u16string value;
        std::u16string path;
    } cases[] = {
        {u"C:\\App\\app.exe", u"C:\\App\\app.exe"},
        {u"C:\\App\\app.exe,0", u"C:\\App\\app.exe"},
        {u"C:\\App\\app.exe,-101", u"C:\\App\\app.exe"},
        {u"\"C:\\Program Files\\App\\app.exe\"", u"C:\\Program Files\\App\\app.exe"},
        {u"\"C:\\Program Files\\App\\app.exe\",2", u"C:\\Program Files\\App\\app.exe"},
        {u",3", u""},
        {u"", u""},
        {u"\"", u""},
        {u"\"\"", u""},
        {u"\"C:\\App\\app.exe", u"C:\\App\\app.ex"},            // no closing quote: last character goes
        {u"\"C:\\App\\app.exe\" ,1", u"C:\\App\\app.exe\""},     // the blank goes instead of the quote
        {u" \"C:\\App\\app.exe\"", u" \"C:\\App\\app.exe\""},    // not starting with a quote: unchanged
        {u"C:\\Odd,Dir\\app.exe,0", u"C:\\Odd"},                 // a comma in the path cuts it
        {u"\"C:\\Odd,Dir\\app.exe\",0", u"C:\\Od"},
        {u"%ProgramFiles%\\App\\app.exe,0", u"%ProgramFiles%\\App\\app.exe"},
    };
    for (const auto& c : cases) EXPECT_EQ(ExtractIconPath(c.value), c.path) << ToUtf8(c.value);
}

TMainLayout DesignedLayout() {
    TMainLayout layout;
    layout.ListView = {16, 40, 761, 393};
    layout.UninstallButton = {16, 448, 75, 25};
    layout.ExitButton = {704, 448, 75, 25};
    return layout;
}

TEST(MainLayout, AnchorsButtonsAndListToTheEdges) {
    TMainLayout layout = DesignedLayout();
    ApplyLayout(layout, 792, 486);
    EXPECT_EQ(layout.UninstallButton, (TBounds{16, 445, 75, 25}));
    EXPECT_EQ(layout.ExitButton, (TBounds{701, 445, 75, 25}));
    EXPECT_EQ(layout.ListView, (TBounds{16, 40, 760, 389}));

    ApplyLayout(layout, 1920, 1000);  // maximised
    EXPECT_EQ(layout.ExitButton, (TBounds{1829, 959, 75, 25}));
    EXPECT_EQ(layout.ListView, (TBounds{16, 40, 1888, 903}));
    ApplyLayout(layout, 792, 486);  // and restored
    EXPECT_EQ(layout.ListView, (TBounds{16, 40, 760, 389}));
}

TEST(MainLayout, ShrinkingToNothingGivesNegativeSizesWithoutFailing) {
    TMainLayout layout = DesignedLayout();
    ApplyLayout(layout, 0, 0);
    EXPECT_EQ(layout.UninstallButton, (TBounds{16, -41, 75, 25}));
    EXPECT_EQ(layout.ExitButton, (TBounds{-91, -41, 75, 25}));
    EXPECT_EQ(layout.ListView, (TBounds{16, 40, -32, -97}));
}

TEST(DesktopCenter, CentresOnTheVirtualScreenAndClampsToItsCorner) {
    int left = 0, top = 0;
    DesktopCenter(0, 0, 1920, 1080, 800, 520, left, top);
    EXPECT_EQ(left, 560);
    EXPECT_EQ(top, 280);
    // Two monitors, the second left of the primary: the window may straddle them.
    DesktopCenter(-1280, 0, 3200, 1080, 801, 521, left, top);
    EXPECT_EQ(left, -1280 + 1600 - 400);
    EXPECT_EQ(top, 540 - 260);
    // Larger than the desktop: its top-left corner.
    DesktopCenter(-1280, -200, 1000, 700, 1200, 900, left, top);
    EXPECT_EQ(left, -1280);
    EXPECT_EQ(top, -200);
}

TEST(ExceptionDisplayText, AddsAFullStopOnlyAfterUnitsAboveIt) {
    // The registry messages end in a quotation mark (0x27), which lies below '.'.
    EXPECT_EQ(ExceptionDisplayText(u"Invalid data type for 'DisplayName'"), u"Invalid data type for 'DisplayName'");
    EXPECT_EQ(ExceptionDisplayText(u"Disk full"), u"Disk full.");
    EXPECT_EQ(ExceptionDisplayText(u"Error 42"), u"Error 42.");
    EXPECT_EQ(ExceptionDisplayText(u"读取失败"), u"读取失败.");
    EXPECT_EQ(ExceptionDisplayText(u"Why?"), u"Why?.");
    EXPECT_EQ(ExceptionDisplayText(u"Note:"), u"Note:.");
    for (const std::u16string kept : {u"Done.", u"Stop!", u"a,", u"a-", u"(a)", u"\"a\"", u"a "}) {
        EXPECT_EQ(ExceptionDisplayText(kept), kept) << ToUtf8(kept);
    }
    EXPECT_EQ(ExceptionDisplayText(u""), u"");
}

}  // namespace
}  // namespace velmora
