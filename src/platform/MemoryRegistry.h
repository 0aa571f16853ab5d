// An in-memory registry that answers the IRegistry calls the way Windows does:
// case-insensitive names that keep their original case, subkeys enumerated in
// upcased-name order, per-key access rights, handles that outlive a deleted key
// (and then report ERROR_KEY_DELETED), and buffers filled only when they fit.
//
// Besides the IRegistry operations it offers a building API (for tests and the
// .reg loader), a log of the calls made through IRegistry, a count of open
// handles, and a hook that runs before each IRegistry call is answered so a test
// can change the registry under the caller's feet.
//
// Not thread-safe: one caller at a time.
#pragma once

#include "platform/Registry.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// RegOpenKeyExW's answer to a path that starts with a backslash.
constexpr long kErrorBadPathname = 161;

// The case-folding used for key and value names: upcases ASCII, Latin-1,
// Latin Extended-A and the basic Greek and Cyrillic letters, one UTF-16 unit at
// a time, as the registry compares names.
char16_t RegistryUpcase(char16_t c);
std::u16string RegistryUpcase(const std::u16string& text);

class MemoryRegistry : public IRegistry {
public:
    enum class Op { Open, QueryInfo, Enum, QueryValue, Close };

    // One IRegistry call as it arrived.
    struct Call {
        Op op = Op::Open;
        RegKey handle = 0;          // the key handle passed in
        RegKey root = 0;            // root the handle belongs to; 0 if the handle is unknown
        std::u16string path;        // full path of the handle's key below its root ("" for a root)
        std::u16string name;        // subkey path for Open, value name for QueryValue
        std::uint32_t index = 0;    // Enum only
        std::uint32_t sam = 0;      // Open only
        bool dataRequested = false; // QueryValue only: data buffer was non-null

        // path joined with name: the key being opened, or the key\value queried.
        std::u16string Target() const;
    };

    struct Value {
        std::u16string name;
        std::uint32_t type = kRegNone;
        std::vector<std::uint8_t> data;
    };

    MemoryRegistry();
    ~MemoryRegistry() override;
    MemoryRegistry(const MemoryRegistry&) = delete;
    MemoryRegistry& operator=(const MemoryRegistry&) = delete;

    // IRegistry.
    long OpenKey(RegKey parent, const std::u16string& subKey, std::uint32_t samDesired,
                 RegKey* result) override;
    long QueryInfoKey(RegKey key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) override;
    long EnumKey(RegKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLen) override;
    long QueryValue(RegKey key, const std::u16string& valueName, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* dataSize) override;
    long CloseKey(RegKey key) override;

    // Building API. `root` must be one of the four root constants (otherwise
    // std::invalid_argument); `path` is backslash-separated below the root, ""
    // meaning the root itself; empty components (repeated or trailing
    // backslashes) are skipped. Existing keys and values are matched
    // case-insensitively and keep the case they were created with.
    void CreateKey(RegKey root, const std::u16string& path);
    void SetValue(RegKey root, const std::u16string& path, const std::u16string& name,
                  std::uint32_t type, std::vector<std::uint8_t> data);
    // Stores the text followed by a terminating null, as UTF-16LE.
    void SetString(RegKey root, const std::u16string& path, const std::u16string& name,
                   const std::u16string& text, std::uint32_t type = kRegSz);
    void SetDword(RegKey root, const std::u16string& path, const std::u16string& name,
                  std::uint32_t value);
    // Deletes the key and its subtree; open handles to them then answer
    // ERROR_KEY_DELETED. False if the key does not exist or is a root.
    bool DeleteKey(RegKey root, const std::u16string& path);
    bool DeleteValue(RegKey root, const std::u16string& path, const std::u16string& name);
    // Rights an OpenKey of this key may ask for. False if the key does not exist.
    bool SetKeyAccess(RegKey root, const std::u16string& path, std::uint32_t grantedRights);

    // Reading back (not logged, no hook).
    bool KeyExists(RegKey root, const std::u16string& path) const;
    std::optional<Value> GetValue(RegKey root, const std::u16string& path,
                                  const std::u16string& name) const;
    // Subkey names in enumeration order; values in the order they were created.
    std::vector<std::u16string> SubKeyNames(RegKey root, const std::u16string& path) const;
    std::vector<Value> Values(RegKey root, const std::u16string& path) const;

    // Observation.
    std::size_t OpenHandleCount() const;
    const std::vector<Call>& Calls() const { return calls_; }
    std::size_t CallCount(Op op) const;
    void ClearCalls();

    // Runs at the start of every IRegistry call, before it is answered; it may
    // change the registry (including closing handles) and the call then answers
    // from the changed state. IRegistry calls made from inside the hook are
    // answered and logged but do not run the hook again.
    void SetHook(std::function<void(const Call&)> hook);

private:
    struct Node;
    struct Handle {
        std::shared_ptr<Node> node;
        RegKey root = 0;
        std::u16string path;
        std::uint32_t access = 0;
    };
    enum class Lookup { Ok, InvalidHandle, AccessDenied, Deleted };

    std::shared_ptr<Node> RootNode(RegKey root) const;
    std::shared_ptr<Node> RequireRoot(RegKey root) const;
    std::shared_ptr<Node> FindKey(RegKey root, const std::u16string& path) const;
    std::shared_ptr<Node> MakeKey(RegKey root, const std::u16string& path);
    // The key a handle refers to, checking that the handle grants `needed`.
    Lookup Resolve(RegKey key, std::uint32_t needed, Handle& out) const;
    static long ErrorFor(Lookup lookup);
    Call Begin(Op op, RegKey key);
    void Announce(const Call& call);
    RegKey NewHandleValue();

    std::map<RegKey, std::shared_ptr<Node>> roots_;
    std::map<RegKey, Handle> handles_;
    RegKey nextHandle_ = 0x1000;
    std::vector<Call> calls_;
    std::function<void(const Call&)> hook_;
    bool inHook_ = false;
};

}  // namespace velmora
