// Drisk.x64's half of the hand-off, natively: what it collects from a registry
// full of awkward values and writes reads back, through the profile reader and
// Velmora's loader, as the same entries (line breaks made spaces, values cut at
// 2,047 characters), and one malformed entry hides no other.
#include <gtest/gtest.h>

#include "HandOff.h"
#include "ScratchProfileFiles.h"
#include "platform/MemoryRegistry.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::testing {
namespace {

const std::u16string kUninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

TEST(HandOffRoundTrip, AwkwardValuesComeBackAsTheyWere) {
    MemoryRegistry registry;
    const std::u16string awkward[] = {
        u"\"", u"\"\"", u"'single'", u"\"quoted\"", u"  blanks around\t ", u"a=b; [c] d", u"[Entry1]",
        u"line\r\nbreaks\rand\nmore", u"中文 — ünïcödé 😀", u";comment-like", u"=", std::u16string(2047, u'x'),
        std::u16string(3000, u'y'),
    };
    int n = 0;
    for (const std::u16string& text : awkward) {
        const std::u16string key = kUninstall + u"K" + std::u16string(1, static_cast<char16_t>(u'A' + n++));
        for (const char16_t* name : {u"DisplayName", u"Publisher", u"Comments", u"DisplayIcon", u"UninstallString"})
            registry.SetString(kHKeyLocalMachine, key, name, text);
    }
    // A malformed entry among them: skipped, the others kept.
    registry.SetString(kHKeyLocalMachine, kUninstall + u"KB", u"NoRemove", u"not a number");

    TOrvUninstallList collected;
    drisk::CollectEntries(registry, kHKeyLocalMachine, collected);
    ASSERT_EQ(collected.Count(), std::size(awkward) - 1);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);

    ScratchProfileFiles files;
    files.WriteHandOff(drisk::FormatHandOffFile(collected));
    MemoryRegistry empty;
    TOrvUninstallReader inventory(empty, files);
    inventory.LoadFromHandOffFile();
    ASSERT_EQ(inventory.Entries.Count(), collected.Count());
    for (std::size_t i = 0; i < collected.Count(); ++i) {
        std::u16string want = collected[i]->DisplayName.substr(0, 2047);
        for (char16_t& c : want) {
            if (c == u'\r' || c == u'\n') c = u' ';
        }
        const TOrvUninstallInfo& got = *inventory.Entries[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(got.DisplayName, want);
        EXPECT_EQ(got.Publisher, want);
        EXPECT_EQ(got.Comments, want);
        EXPECT_EQ(got.DisplayIcon, want);
        EXPECT_EQ(got.UninstallString, want);
    }
    EXPECT_FALSE(files.HandOffExists());
}

}  // namespace
}  // namespace velmora::testing
