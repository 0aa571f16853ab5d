// The same .reg fixtures drive the scan on both sides: natively they are loaded
// into the in-memory registry, on Windows (Wine) imported into the real registry.
// Both must give the inventory written down once in the fixture's .expected file.
#pragma once

#include <memory>
#include <string>

#include "platform/Registry.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::testing {

class FixtureRegistry {
public:
    virtual ~FixtureRegistry() = default;
    // Removes the per-machine Uninstall key with everything below it.
    virtual void ResetUninstallKey() = 0;
    // Imports a .reg file as regedit would.
    virtual void Import(const std::string& regFile) = 0;
    virtual IRegistry& Registry() = 0;
};

// The side's own registry (defined once natively, once for Windows).
std::unique_ptr<FixtureRegistry> MakeFixtureRegistry();

// Directory of the shared fixtures, with a trailing separator.
std::string FixtureDirectory();
// A scratch directory for generated fixtures, with a trailing separator.
std::string ScratchDirectory();

// The inventory as text, one block per entry, then the error if the scan failed:
// the form of the .expected files.
std::string DescribeInventory(const TOrvUninstallList& entries, const std::string& error);
// An .expected file's contents with comment lines, blank lines and trailing
// blanks removed, so it compares with DescribeInventory's text.
std::string NormaliseExpected(const std::string& text);
std::string ReadTextFile(const std::string& path);
void WriteTextFile(const std::string& path, const std::string& bytes);

}  // namespace velmora::testing
