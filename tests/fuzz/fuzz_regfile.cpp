// The .reg loader on arbitrary bytes. It either applies the whole file or throws
// RegFileError and leaves the registry as it was; what it applies must survive
// being written out again (as regedit's UTF-16 form, every value as hex(N)) and
// loaded into an empty registry.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "FuzzSupport.h"
#include "platform/MemoryRegistry.h"
#include "platform/RegFile.h"

namespace velmora::fuzz {
namespace {

struct RootName {
    RegKey key;
    const char16_t* name;
};
constexpr RootName kRoots[] = {
    {kHKeyClassesRoot, u"HKEY_CLASSES_ROOT"},
    {kHKeyCurrentUser, u"HKEY_CURRENT_USER"},
    {kHKeyLocalMachine, u"HKEY_LOCAL_MACHINE"},
    {kHKeyUsers, u"HKEY_USERS"},
};

std::u16string Join(const std::u16string& path, const std::u16string& name) {
    return path.empty() ? name : path + u"\\" + name;
}

const char16_t kHex[] = u"0123456789abcdef";

// Everything a registry holds, keys in enumeration order and values in creation
// order, as text that differs whenever the registries differ.
void Dump(const MemoryRegistry& reg, RegKey root, const std::u16string& path, std::u16string& out) {
    out += u"[" + path + u"]\n";
    for (const auto& value : reg.Values(root, path)) {
        out += u"  " + value.name + u"\x1F" + std::u16string(1, kHex[value.type >> 28]);
        for (int shift = 24; shift >= 0; shift -= 4) out += kHex[(value.type >> shift) & 0xF];
        out += u":";
        for (std::uint8_t b : value.data) {
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
        out += u"\n";
    }
    for (const auto& name : reg.SubKeyNames(root, path)) Dump(reg, root, Join(path, name), out);
}

std::u16string Dump(const MemoryRegistry& reg) {
    std::u16string out;
    for (const RootName& root : kRoots) {
        out += root.name;
        Dump(reg, root.key, u"", out);
    }
    return out;
}

std::u16string Quoted(const std::u16string& text) {
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out += u'\\';
            out += c;
        } else if (c == u'\n') {
            out += u"\\n";
        } else if (c == u'\r') {
            out += u"\\r";
        } else {
            out += c;
        }
    }
    return out + u"\"";
}

void Export(const MemoryRegistry& reg, RegKey root, const std::u16string& rootName, const std::u16string& path,
            std::u16string& out) {
    const auto values = reg.Values(root, path);
    if (!path.empty() || !values.empty()) out += u"\r\n[" + Join(rootName, path) + u"]\r\n";
    for (const auto& value : values) {
        out += value.name.empty() ? std::u16string(u"@") : Quoted(value.name);
        out += u"=hex(";
        std::u16string type;
        std::uint32_t t = value.type;
        do {
            type.insert(type.begin(), kHex[t & 0xF]);
            t >>= 4;
        } while (t != 0);
        out += type + u"):";
        for (std::size_t i = 0; i < value.data.size(); ++i) {
            if (i) out += (i % 32 == 0) ? u",\\\r\n  " : u",";
            out += kHex[value.data[i] >> 4];
            out += kHex[value.data[i] & 0xF];
        }
        out += u"\r\n";
    }
    for (const auto& name : reg.SubKeyNames(root, path)) Export(reg, root, rootName, Join(path, name), out);
}

std::string ExportFile(const MemoryRegistry& reg) {
    std::u16string text = u"Windows Registry Editor Version 5.00\r\n";
    for (const RootName& root : kRoots) Export(reg, root.key, root.name, u"", text);
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

}  // namespace
}  // namespace velmora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmora;
    using namespace velmora::fuzz;
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // Something the file may change or delete, so that "untouched" means something.
    MemoryRegistry reg;
    reg.SetString(kHKeyLocalMachine, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kept",
                  u"UninstallString", u"kept.exe");
    reg.SetDword(kHKeyCurrentUser, u"Software\\Kept", u"", 1);
    const std::u16string before = Dump(reg);

    try {
        LoadRegFile(reg, bytes, "fuzz.reg");
    } catch (const RegFileError& e) {
        Check(Dump(reg) == before, "a refused file changed the registry");
        Check(e.Line() >= 0 && std::string(e.what()).rfind("fuzz.reg", 0) == 0, "error without its source",
              e.what());
        return 0;
    } catch (const std::exception& e) {
        Fail("the loader threw something other than RegFileError", e.what());
    }
    Check(reg.OpenHandleCount() == 0, "loading left a handle open");

    // What was loaded reads back the same from its own export.
    const std::u16string loaded = Dump(reg);
    MemoryRegistry copy;
    try {
        LoadRegFile(copy, ExportFile(reg), "export.reg");
    } catch (const RegFileError& e) {
        Fail("the export of a loaded registry was refused", e.what());
    }
    Check(Dump(copy) == loaded, "the export did not load back as the same registry",
          Show(loaded) + "\n--- became ---\n" + Show(Dump(copy)));
    return 0;
}
