// What Drisk.x64 lists and how it writes the hand-off file: the same entry rules
// as Velmora's own scan, reused from the inventory unit, but tolerant of a
// malformed entry, and a file that the profile reader gives back exactly.
#pragma once

#include <string>
#include <vector>

#include "unitOrvUninstallClasses.h"

namespace velmora::drisk {

// Appends the removable entries of the Uninstall key below the root, in
// enumeration order. An entry whose values cannot be read is skipped; the others
// are kept.
void CollectEntries(IRegistry& registry, RegKey rootKey, TOrvUninstallList& entries);

// The hand-off file's text: one section per entry, named so that no value can
// break the syntax, each value wrapped in one pair of double quotes (the profile
// reader strips that pair and nothing inside it) with line breaks made spaces.
std::u16string FormatHandOffFile(const TOrvUninstallList& entries);

}  // namespace velmora::drisk
