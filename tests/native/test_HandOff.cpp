// The hand-off merge against the portable profile reader on real files and the
// scripted process functions: what is started, what is read and what is deleted.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "FakeProcesses.h"
#include "ScratchProfileFiles.h"
#include "frmOrvUninstallMainLogic.h"
#include "platform/MemoryRegistry.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::testing {
namespace {

const std::u16string kThreeSections =
    u"[A]\r\nDisplayName=Alpha 64\r\nPublisher=Contoso\r\nComment=first\r\nDisplayIcon=C:\\a.exe,0\r\n"
    u"UninstallString=\"C:\\Program Files\\A\\unins.exe\" /S\r\n"
    u"[B]\r\nDisplayName=Beta 64\r\nUninstallString=b.exe\r\n"
    u"[C]\r\nDisplayName=Gamma 64\r\nUninstallString=c.exe\r\n";

std::u16string Number(int i) {
    const std::string digits = std::to_string(i);
    return std::u16string(digits.begin(), digits.end());
}

class HandOffMerge : public ::testing::Test {
protected:
    HandOffMerge() {
        registry.SetString(kHKeyLocalMachine, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Reg32",
                           u"UninstallString", u"reg32.exe");
        processes.wow64 = true;
    }
    void Merge(TOrvUninstallReader& inventory) {
        MergeHandOffInventory(inventory, processes, [this] { processes.calls.push_back("messages"); });
    }
    std::vector<std::u16string> Names(const TOrvUninstallReader& inventory) {
        std::vector<std::u16string> names;
        for (std::size_t i = 0; i < inventory.Entries.Count(); ++i) names.push_back(inventory.Entries[i]->DisplayName);
        return names;
    }

    MemoryRegistry registry;
    ScratchProfileFiles files;
    FakeProcesses processes;
};

TEST_F(HandOffMerge, On32BitWindowsNothingRunsAndAFileStaysUntouched) {
    processes.wow64 = false;
    files.WriteHandOff(kThreeSections);
    TOrvUninstallReader inventory(registry, files);
    Merge(inventory);
    EXPECT_EQ(processes.calls, std::vector<std::string>{"wow64"});
    EXPECT_TRUE(files.calls.empty());
    EXPECT_TRUE(files.HandOffExists());
    EXPECT_EQ(Names(inventory), std::vector<std::u16string>{u"Reg32"});
}

TEST_F(HandOffMerge, RunsTheCompanionHiddenThenAppendsItsEntriesInFileOrder) {
    processes.onStart = [&](const std::u16string&) { files.WriteHandOff(kThreeSections); };
    TOrvUninstallReader inventory(registry, files);
    Merge(inventory);

    ASSERT_EQ(processes.commandLines, std::vector<std::u16string>{u"Drisk.x64"});
    EXPECT_EQ(processes.lastStartup.wShowWindow, 0u);
    EXPECT_EQ(Names(inventory), (std::vector<std::u16string>{u"Reg32", u"Alpha 64", u"Beta 64", u"Gamma 64"}));
    const TOrvUninstallInfo& a = *inventory.Entries[1];
    EXPECT_EQ(a.Comments, u"first");
    EXPECT_EQ(a.DisplayIcon, u"C:\\a.exe,0");
    EXPECT_EQ(a.Publisher, u"Contoso");
    EXPECT_EQ(a.UninstallString, u"\"C:\\Program Files\\A\\unins.exe\" /S");
    EXPECT_EQ(a.KeyName, u"");
    EXPECT_FALSE(files.HandOffExists());
    // Reader released (flushed) before the file is tested and deleted.
    const auto flush = std::find(files.calls.begin(), files.calls.end(), "flush");
    const auto attributes = std::find(files.calls.begin(), files.calls.end(), "attributes");
    EXPECT_LT(flush, attributes);
}

TEST_F(HandOffMerge, AMissingCompanionStillMergesAndDeletesALeftOverFile) {
    processes.startFails = true;
    files.WriteHandOff(kThreeSections);
    TOrvUninstallReader inventory(registry, files);
    Merge(inventory);
    EXPECT_EQ(inventory.Entries.Count(), 4u);
    EXPECT_FALSE(files.HandOffExists());

    // No file at all: nothing appended, no deletion tried.
    files.calls.clear();
    inventory.Refresh();
    Merge(inventory);
    EXPECT_EQ(Names(inventory), std::vector<std::u16string>{u"Reg32"});
    EXPECT_EQ(std::count(files.calls.begin(), files.calls.end(), "delete"), 0);
}

TEST_F(HandOffMerge, SectionsGiveEntriesAsTheyStandWithoutTheScansRules) {
    const std::u16string longValue(3000, u'x');
    files.WriteHandOff(u"[OnlyName]\r\nDisplayName=Just a name\r\n"
                       u"[Nameless]\r\nComments=not read\r\nUninstallString=nameless.exe\r\n"
                       u"[Long]\r\nDisplayName=" + longValue + u"\r\nUninstallString=\r\n");
    processes.startFails = true;
    TOrvUninstallReader inventory(registry, files);
    Merge(inventory);
    ASSERT_EQ(inventory.Entries.Count(), 4u);
    const TOrvUninstallInfo& onlyName = *inventory.Entries[1];
    EXPECT_EQ(onlyName.DisplayName, u"Just a name");
    EXPECT_TRUE(onlyName.Comments.empty() && onlyName.DisplayIcon.empty() && onlyName.Publisher.empty() &&
                onlyName.UninstallString.empty() && onlyName.KeyName.empty());
    const TOrvUninstallInfo& nameless = *inventory.Entries[2];
    EXPECT_EQ(nameless.DisplayName, u"");
    EXPECT_EQ(nameless.Comments, u"");
    EXPECT_EQ(nameless.UninstallString, u"nameless.exe");
    EXPECT_EQ(inventory.Entries[3]->DisplayName, longValue.substr(0, 2047));
}

TEST_F(HandOffMerge, SectionNamesBeyondTheFirstBufferAreAllListed) {
    std::u16string text;
    std::vector<std::u16string> expected{u"Reg32"};
    for (int i = 0; i < 400; ++i) {
        const std::u16string name = u"Section number " + Number(i) + u" " +
                                    std::u16string(40, u's');
        text += u"[" + name + u"]\r\nDisplayName=" + name + u"\r\n";
        expected.push_back(name);
    }
    files.WriteHandOff(text);
    processes.startFails = true;
    TOrvUninstallReader inventory(registry, files);
    Merge(inventory);
    EXPECT_EQ(Names(inventory), expected);
    EXPECT_EQ(std::count(files.calls.begin(), files.calls.end(), "sections"), 2);
}

TEST_F(HandOffMerge, EveryMergeFollowsARescanSoNoEntryIsListedTwice) {
    processes.onStart = [&](const std::u16string&) { files.WriteHandOff(kThreeSections); };
    TOrvUninstallReader inventory(registry, files);
    Merge(inventory);
    inventory.Refresh();
    EXPECT_EQ(Names(inventory), std::vector<std::u16string>{u"Reg32"});
    Merge(inventory);
    EXPECT_EQ(Names(inventory), (std::vector<std::u16string>{u"Reg32", u"Alpha 64", u"Beta 64", u"Gamma 64"}));
}

TEST_F(HandOffMerge, ASharingViolationLeavesExistenceToADirectorySearch) {
    files.WriteHandOff(kThreeSections);
    files.attributesError = kErrorSharingViolation;
    processes.startFails = true;
    TOrvUninstallReader inventory(registry, files);
    Merge(inventory);
    EXPECT_NE(std::find(files.calls.begin(), files.calls.end(), "find"), files.calls.end());
    EXPECT_FALSE(files.HandOffExists());

    // "Not found" needs no search.
    files.calls.clear();
    files.attributesError = kErrorFileNotFound;
    files.WriteHandOff(kThreeSections);
    Merge(inventory);
    EXPECT_EQ(std::find(files.calls.begin(), files.calls.end(), "find"), files.calls.end());
    EXPECT_TRUE(files.HandOffExists());
}

TEST_F(HandOffMerge, AFileThatCannotBeDeletedIsMergedAgainNextTime) {
    files.WriteHandOff(kThreeSections);
    files.deleteFails = true;
    processes.startFails = true;
    TOrvUninstallReader inventory(registry, files);
    Merge(inventory);
    EXPECT_TRUE(files.HandOffExists());
    inventory.Refresh();
    files.deleteFails = false;
    Merge(inventory);
    EXPECT_EQ(inventory.Entries.Count(), 4u);
    EXPECT_FALSE(files.HandOffExists());
}

TEST_F(HandOffMerge, ADirectoryOfThatNameIsNeitherReadNorDeleted) {
    std::filesystem::create_directory(files.HandOffPath());
    processes.startFails = true;
    TOrvUninstallReader inventory(registry, files);
    Merge(inventory);
    EXPECT_EQ(inventory.Entries.Count(), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(files.HandOffPath()));
    EXPECT_EQ(std::count(files.calls.begin(), files.calls.end(), "delete"), 0);
}

TEST_F(HandOffMerge, AFailureWhileLoadingKeepsWhatWasAppendedAndTheFile) {
    files.WriteHandOff(kThreeSections);
    files.throwOnValueRead = 7;  // inside the second section
    processes.startFails = true;
    TOrvUninstallReader inventory(registry, files);
    EXPECT_THROW(Merge(inventory), std::bad_alloc);
    EXPECT_EQ(Names(inventory), (std::vector<std::u16string>{u"Reg32", u"Alpha 64"}));
    EXPECT_EQ(files.calls.back(), "flush");
    EXPECT_TRUE(files.HandOffExists());
}

TEST_F(HandOffMerge, AFileThatCannotBeMeasuredFailsWithItsName) {
    std::u16string text;
    for (int i = 0; i < 2000; ++i) text += u"[Section with a rather long name " + Number(i) + u"]\r\n";
    files.WriteHandOff(text);
    files.readAllBytesFails = true;
    processes.startFails = true;
    TOrvUninstallReader inventory(registry, files);
    try {
        Merge(inventory);
        FAIL() << "an unreadable file was taken as read";
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("OrvUninstall.ini"), std::string::npos) << e.what();
    }
    EXPECT_EQ(inventory.Entries.Count(), 1u);
    EXPECT_TRUE(files.HandOffExists());
}

TEST_F(HandOffMerge, WithoutATemporaryDirectoryTheBareNameIsUsed) {
    files.tempPathFails = true;
    TOrvUninstallReader inventory(registry, files);
    EXPECT_EQ(inventory.GetHandOffFilePath(), u"OrvUninstall.ini");
    EXPECT_EQ(GetTempDirectory(files), u"");
}

}  // namespace
}  // namespace velmora::testing
