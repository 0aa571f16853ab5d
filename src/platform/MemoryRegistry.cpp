#include "platform/MemoryRegistry.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace velmora {

namespace {

// Rights that select a registry view rather than grant access.
constexpr std::uint32_t kViewBits = kKeyWow64_64Key | kKeyWow64_32Key;
constexpr std::uint32_t kMaximumAllowed = 0x02000000;
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericExecute = 0x20000000;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kKeyWrite = 0x20006;

// Generic rights stand for the key-specific rights Windows maps them to.
std::uint32_t MapGenericRights(std::uint32_t sam) {
    std::uint32_t mapped = sam & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (sam & kGenericRead) mapped |= kKeyRead;
    if (sam & kGenericExecute) mapped |= kKeyRead;
    if (sam & kGenericWrite) mapped |= kKeyWrite;
    if (sam & kGenericAll) mapped |= kKeyAllAccess;
    return mapped & ~kViewBits;
}

bool IsRoot(RegKey key) {
    return key == kHKeyClassesRoot || key == kHKeyCurrentUser || key == kHKeyLocalMachine ||
           key == kHKeyUsers;
}

// Splits a backslash-separated path, skipping empty components.
std::vector<std::u16string> SplitPath(const std::u16string& path) {
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::u16string JoinPath(const std::u16string& base, const std::u16string& name) {
    if (base.empty()) return name;
    if (name.empty()) return base;
    return base + u"\\" + name;
}

}  // namespace

char16_t RegistryUpcase(char16_t c) {
    const unsigned u = c;
    if (u >= 'a' && u <= 'z') return static_cast<char16_t>(u - 0x20);
    if (u < 0xE0) return c;
    if (u <= 0xFE) return u == 0xF7 ? c : static_cast<char16_t>(u - 0x20);
    if (u == 0xFF) return u'\u0178';
    // Latin Extended-A: mostly upper/lower pairs; the dotted and dotless i, kra,
    // the n preceded by apostrophe and the long s have no simple pair.
    if ((u >= 0x100 && u <= 0x12F) || (u >= 0x132 && u <= 0x137) || (u >= 0x14A && u <= 0x177))
        return (u & 1) ? static_cast<char16_t>(u - 1) : c;
    if ((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E))
        return (u & 1) ? c : static_cast<char16_t>(u - 1);
    // Greek small alpha..omega except the final sigma.
    if (u >= 0x3B1 && u <= 0x3C9 && u != 0x3C2) return static_cast<char16_t>(u - 0x20);
    // Cyrillic.
    if (u >= 0x430 && u <= 0x44F) return static_cast<char16_t>(u - 0x20);
    if (u >= 0x450 && u <= 0x45F) return static_cast<char16_t>(u - 0x50);
    return c;
}

std::u16string RegistryUpcase(const std::u16string& text) {
    std::u16string out(text);
    for (char16_t& c : out) c = RegistryUpcase(c);
    return out;
}

struct MemoryRegistry::Node {
    std::u16string name;
    std::u16string upper;
    // Kept sorted by `upper`, which is the enumeration order of Windows. (Wine
    // compares lowercased names instead, which differs only for the characters
    // between 'Z' and 'a' such as '_' and '['.)
    std::vector<std::shared_ptr<Node>> subkeys;
    // In creation order.
    std::vector<Value> values;
    std::uint32_t access = kKeyAllAccess;
    bool deleted = false;

    std::vector<std::shared_ptr<Node>>::iterator LowerBound(const std::u16string& up) {
        return std::lower_bound(subkeys.begin(), subkeys.end(), up,
                                [](const std::shared_ptr<Node>& n, const std::u16string& key) {
                                    return n->upper < key;
                                });
    }

    std::shared_ptr<Node> Child(const std::u16string& childName) {
        const std::u16string up = RegistryUpcase(childName);
        auto it = LowerBound(up);
        if (it != subkeys.end() && (*it)->upper == up) return *it;
        return nullptr;
    }

    Value* FindValue(const std::u16string& valueName) {
        const std::u16string up = RegistryUpcase(valueName);
        for (Value& v : values)
            if (RegistryUpcase(v.name) == up) return &v;
        return nullptr;
    }

    void MarkDeleted() {
        deleted = true;
        for (auto& child : subkeys) child->MarkDeleted();
    }
};

std::u16string MemoryRegistry::Call::Target() const { return JoinPath(path, name); }

MemoryRegistry::MemoryRegistry() {
    for (RegKey root : {kHKeyClassesRoot, kHKeyCurrentUser, kHKeyLocalMachine, kHKeyUsers})
        roots_[root] = std::make_shared<Node>();
}

MemoryRegistry::~MemoryRegistry() = default;

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::RootNode(RegKey root) const {
    auto it = roots_.find(root);
    return it == roots_.end() ? nullptr : it->second;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::RequireRoot(RegKey root) const {
    auto node = RootNode(root);
    if (!node) throw std::invalid_argument("MemoryRegistry: not a root key");
    return node;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::FindKey(RegKey root,
                                                              const std::u16string& path) const {
    auto node = RootNode(root);
    if (!node) return nullptr;
    for (const auto& part : SplitPath(path)) {
        node = node->Child(part);
        if (!node) return nullptr;
    }
    return node;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::MakeKey(RegKey root,
                                                              const std::u16string& path) {
    auto node = RequireRoot(root);
    for (const auto& part : SplitPath(path)) {
        const std::u16string up = RegistryUpcase(part);
        auto it = node->LowerBound(up);
        if (it == node->subkeys.end() || (*it)->upper != up) {
            auto child = std::make_shared<Node>();
            child->name = part;
            child->upper = up;
            it = node->subkeys.insert(it, std::move(child));
        }
        node = *it;
    }
    return node;
}

void MemoryRegistry::CreateKey(RegKey root, const std::u16string& path) { MakeKey(root, path); }

void MemoryRegistry::SetValue(RegKey root, const std::u16string& path, const std::u16string& name,
                              std::uint32_t type, std::vector<std::uint8_t> data) {
    auto node = MakeKey(root, path);
    if (Value* existing = node->FindValue(name)) {
        existing->type = type;
        existing->data = std::move(data);
        return;
    }
    node->values.push_back(Value{name, type, std::move(data)});
}

void MemoryRegistry::SetString(RegKey root, const std::u16string& path,
                               const std::u16string& name, const std::u16string& text,
                               std::uint32_t type) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    SetValue(root, path, name, type, std::move(bytes));
}

void MemoryRegistry::SetDword(RegKey root, const std::u16string& path, const std::u16string& name,
                              std::uint32_t value) {
    std::vector<std::uint8_t> bytes(4);
    for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    SetValue(root, path, name, kRegDword, std::move(bytes));
}

bool MemoryRegistry::DeleteKey(RegKey root, const std::u16string& path) {
    RequireRoot(root);
    auto parts = SplitPath(path);
    if (parts.empty()) return false;
    const std::u16string last = parts.back();
    parts.pop_back();
    auto parent = RootNode(root);
    for (const auto& part : parts) {
        parent = parent->Child(part);
        if (!parent) return false;
    }
    const std::u16string up = RegistryUpcase(last);
    auto it = parent->LowerBound(up);
    if (it == parent->subkeys.end() || (*it)->upper != up) return false;
    // Open handles keep the node alive; they see it marked deleted.
    std::shared_ptr<Node> victim = *it;
    parent->subkeys.erase(it);
    victim->MarkDeleted();
    return true;
}

bool MemoryRegistry::DeleteValue(RegKey root, const std::u16string& path,
                                 const std::u16string& name) {
    RequireRoot(root);
    auto node = FindKey(root, path);
    if (!node) return false;
    const std::u16string up = RegistryUpcase(name);
    auto it = std::find_if(node->values.begin(), node->values.end(),
                           [&](const Value& v) { return RegistryUpcase(v.name) == up; });
    if (it == node->values.end()) return false;
    node->values.erase(it);
    return true;
}

bool MemoryRegistry::SetKeyAccess(RegKey root, const std::u16string& path,
                                  std::uint32_t grantedRights) {
    RequireRoot(root);
    auto node = FindKey(root, path);
    if (!node) return false;
    node->access = grantedRights;
    return true;
}

bool MemoryRegistry::KeyExists(RegKey root, const std::u16string& path) const {
    return FindKey(root, path) != nullptr;
}

std::optional<MemoryRegistry::Value> MemoryRegistry::GetValue(RegKey root,
                                                              const std::u16string& path,
                                                              const std::u16string& name) const {
    auto node = FindKey(root, path);
    if (!node) return std::nullopt;
    const Value* v = node->FindValue(name);
    if (!v) return std::nullopt;
    return *v;
}

std::vector<std::u16string> MemoryRegistry::SubKeyNames(RegKey root,
                                                        const std::u16string& path) const {
    std::vector<std::u16string> names;
    if (auto node = FindKey(root, path))
        for (const auto& child : node->subkeys) names.push_back(child->name);
    return names;
}

std::vector<MemoryRegistry::Value> MemoryRegistry::Values(RegKey root,
                                                          const std::u16string& path) const {
    auto node = FindKey(root, path);
    return node ? node->values : std::vector<Value>{};
}

std::size_t MemoryRegistry::OpenHandleCount() const { return handles_.size(); }

std::size_t MemoryRegistry::CallCount(Op op) const {
    return static_cast<std::size_t>(
        std::count_if(calls_.begin(), calls_.end(), [op](const Call& c) { return c.op == op; }));
}

void MemoryRegistry::ClearCalls() { calls_.clear(); }

void MemoryRegistry::SetHook(std::function<void(const Call&)> hook) { hook_ = std::move(hook); }

MemoryRegistry::Call MemoryRegistry::Begin(Op op, RegKey key) {
    Call call;
    call.op = op;
    call.handle = key;
    if (IsRoot(key)) {
        call.root = key;
    } else {
        auto it = handles_.find(key);
        if (it != handles_.end()) {
            call.root = it->second.root;
            call.path = it->second.path;
        }
    }
    return call;
}

// Logs the call, then runs the hook on a copy of itself so the hook may replace
// or clear itself; callers look everything up again afterwards.
void MemoryRegistry::Announce(const Call& call) {
    calls_.push_back(call);
    if (!hook_ || inHook_) return;
    auto hook = hook_;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inHook_};
    inHook_ = true;
    hook(call);
}

MemoryRegistry::Lookup MemoryRegistry::Resolve(RegKey key, std::uint32_t needed,
                                               Handle& out) const {
    if (IsRoot(key)) {
        out.node = RootNode(key);
        out.root = key;
        out.path.clear();
        out.access = out.node->access;
    } else {
        auto it = handles_.find(key);
        if (it == handles_.end()) return Lookup::InvalidHandle;
        out = it->second;
    }
    if ((out.access & needed) != needed) return Lookup::AccessDenied;
    if (out.node->deleted) return Lookup::Deleted;
    return Lookup::Ok;
}

long MemoryRegistry::ErrorFor(Lookup lookup) {
    switch (lookup) {
        case Lookup::InvalidHandle: return kErrorInvalidHandle;
        case Lookup::AccessDenied: return kErrorAccessDenied;
        case Lookup::Deleted: return kErrorKeyDeleted;
        case Lookup::Ok: break;
    }
    return kErrorSuccess;
}

RegKey MemoryRegistry::NewHandleValue() {
    // Handle values look like kernel handles: multiples of 4, never a root.
    for (;;) {
        RegKey candidate = nextHandle_;
        nextHandle_ += 4;
        if (nextHandle_ >= 0x7FFFFFF0u) nextHandle_ = 0x1000;
        if (!IsRoot(candidate) && handles_.find(candidate) == handles_.end()) return candidate;
    }
}

long MemoryRegistry::OpenKey(RegKey parent, const std::u16string& subKey,
                             std::uint32_t samDesired, RegKey* result) {
    Call call = Begin(Op::Open, parent);
    call.name = subKey;
    call.sam = samDesired;
    Announce(call);

    if (!result) return kErrorInvalidParameter;
    Handle base;
    // Opening by path needs no rights on the parent handle.
    Lookup lookup = Resolve(parent, 0, base);
    if (lookup != Lookup::Ok) return ErrorFor(lookup);
    if (!subKey.empty() && subKey[0] == u'\\') return kErrorBadPathname;

    std::shared_ptr<Node> node = base.node;
    std::u16string path = base.path;
    for (const auto& part : SplitPath(subKey)) {
        node = node->Child(part);
        if (!node) return kErrorFileNotFound;
        path = JoinPath(path, node->name);
    }

    const std::uint32_t requested = MapGenericRights(samDesired);
    std::uint32_t granted;
    if (requested & kMaximumAllowed) {
        if ((requested & ~kMaximumAllowed & ~node->access) != 0) return kErrorAccessDenied;
        granted = node->access;
    } else {
        if ((requested & ~node->access) != 0) return kErrorAccessDenied;
        granted = requested;
    }

    const RegKey handle = NewHandleValue();
    handles_[handle] = Handle{node, base.root, path, granted};
    *result = handle;
    return kErrorSuccess;
}

long MemoryRegistry::QueryInfoKey(RegKey key, std::uint32_t* subKeys,
                                  std::uint32_t* maxSubKeyLen) {
    Call call = Begin(Op::QueryInfo, key);
    Announce(call);

    Handle h;
    Lookup lookup = Resolve(key, kKeyQueryValue, h);
    if (lookup != Lookup::Ok) return ErrorFor(lookup);
    std::size_t longest = 0;
    for (const auto& child : h.node->subkeys) longest = std::max(longest, child->name.size());
    if (subKeys) *subKeys = static_cast<std::uint32_t>(h.node->subkeys.size());
    if (maxSubKeyLen) *maxSubKeyLen = static_cast<std::uint32_t>(longest);
    return kErrorSuccess;
}

long MemoryRegistry::EnumKey(RegKey key, std::uint32_t index, char16_t* name,
                             std::uint32_t* nameLen) {
    Call call = Begin(Op::Enum, key);
    call.index = index;
    Announce(call);

    Handle h;
    Lookup lookup = Resolve(key, kKeyEnumerateSubKeys, h);
    if (lookup != Lookup::Ok) return ErrorFor(lookup);
    if (!name || !nameLen) return kErrorInvalidParameter;
    if (index >= h.node->subkeys.size()) return kErrorNoMoreItems;
    const std::u16string& found = h.node->subkeys[index]->name;
    // The name and its terminating null must both fit.
    if (found.size() >= *nameLen) return kErrorMoreData;
    std::copy(found.begin(), found.end(), name);
    name[found.size()] = u'\0';
    *nameLen = static_cast<std::uint32_t>(found.size());
    return kErrorSuccess;
}

long MemoryRegistry::QueryValue(RegKey key, const std::u16string& valueName, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* dataSize) {
    Call call = Begin(Op::QueryValue, key);
    call.name = valueName;
    call.dataRequested = data != nullptr;
    Announce(call);

    Handle h;
    Lookup lookup = Resolve(key, kKeyQueryValue, h);
    if (lookup != Lookup::Ok) return ErrorFor(lookup);
    if (data && !dataSize) return kErrorInvalidParameter;
    const Value* v = h.node->FindValue(valueName);
    if (!v) return kErrorFileNotFound;
    if (v->data.size() > std::numeric_limits<std::uint32_t>::max()) return kErrorMoreData;
    const auto size = static_cast<std::uint32_t>(v->data.size());
    if (type) *type = v->type;
    if (data) {
        if (*dataSize < size) {
            *dataSize = size;
            return kErrorMoreData;
        }
        if (size) std::memcpy(data, v->data.data(), size);
    }
    if (dataSize) *dataSize = size;
    return kErrorSuccess;
}

long MemoryRegistry::CloseKey(RegKey key) {
    Call call = Begin(Op::Close, key);
    Announce(call);

    if (IsRoot(key)) return kErrorSuccess;
    auto it = handles_.find(key);
    if (it == handles_.end()) return kErrorInvalidHandle;
    handles_.erase(it);
    return kErrorSuccess;
}

}  // namespace velmora
