// An in-memory registry behind IRegistryApi that answers with the Win32
// status codes. Key and value names compare case-insensitively (ASCII), the
// empty value name is the default value, handles must be open to be used,
// and every open and close is counted so a test can check that nothing was
// left open. A key can be marked as one the user may read but not change.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace qx::fake {

class FakeRegistry : public IRegistryApi {
public:
    static constexpr long kFileNotFound = 2;
    static constexpr long kAccessDenied = 5;
    static constexpr long kInvalidHandle = 6;
    static constexpr long kBadPathname = 161;

    struct Value {
        uint32_t type = 0;
        Bytes data;
    };

    struct Key {
        std::map<std::string, std::unique_ptr<Key>> subKeys;  // by lower-case name
        std::map<std::string, Value> values;                  // by lower-case name
        bool readOnly = false;  // the user may read it but not change it
    };

    // Access masks passed to OpenKeyEx, in call order.
    std::vector<uint32_t> openExAccess;
    int opens = 0;   // successful OpenKeyEx, OpenKey and CreateKey
    int closes = 0;  // successful CloseKey of an opened handle
    int badCloses = 0;  // CloseKey of a handle that was not open
    int setCalls = 0;
    int invalidHandleUses = 0;

    FakeRegistry() {
        for (RegKey r = reg::kClassesRoot; r <= reg::kDynData; ++r) roots_[r] = std::make_unique<Key>();
    }

    size_t OpenHandles() const { return handles_.size(); }

    // ---- set-up and queries -----------------------------------------------

    // The key at path below root ("Software\\A"), created when missing.
    Key& AddKey(RegKey root, const Bytes& path) {
        Key* k = roots_.at(root).get();
        for (const std::string& part : Split(path)) {
            auto& slot = k->subKeys[Lower(part)];
            if (!slot) slot = std::make_unique<Key>();
            k = slot.get();
        }
        return *k;
    }

    void Put(RegKey root, const Bytes& path, const Bytes& name, uint32_t type, const Bytes& data) {
        AddKey(root, path).values[Lower(name)] = Value{type, data};
    }

    // nullptr when the key does not exist.
    const Key* FindKey(RegKey root, const Bytes& path) const {
        auto it = roots_.find(root);
        if (it == roots_.end()) return nullptr;
        const Key* k = it->second.get();
        for (const std::string& part : Split(path)) {
            auto sub = k->subKeys.find(Lower(part));
            if (sub == k->subKeys.end()) return nullptr;
            k = sub->second.get();
        }
        return k;
    }

    const Value* FindValue(RegKey root, const Bytes& path, const Bytes& name) const {
        const Key* k = FindKey(root, path);
        if (k == nullptr) return nullptr;
        auto it = k->values.find(Lower(name));
        return it == k->values.end() ? nullptr : &it->second;
    }

    // ---- IRegistryApi ----------------------------------------------------

    long OpenKeyEx(RegKey root, const Bytes& subKey, uint32_t access, RegKey& out) override {
        openExAccess.push_back(access);
        const uint32_t readRights = reg::kKeyRead;
        return Open(root, subKey, (access & ~readRights) != 0, false, out);
    }

    // Opens with whatever rights the user has, like RegOpenKeyA.
    long OpenKey(RegKey root, const Bytes& subKey, RegKey& out) override {
        return Open(root, subKey, false, false, out);
    }

    long CreateKey(RegKey root, const Bytes& subKey, RegKey& out) override {
        return Open(root, subKey, false, true, out);
    }

    long QueryValueEx(RegKey key, const Bytes& name, uint32_t& type, Bytes& data) override {
        Handle* h = Use(key);
        if (h == nullptr) return kInvalidHandle;
        auto it = h->key->values.find(Lower(name));
        if (it == h->key->values.end()) return kFileNotFound;
        type = it->second.type;
        data = it->second.data;
        return reg::kSuccess;
    }

    long SetValueEx(RegKey key, const Bytes& name, uint32_t type, const Bytes& data) override {
        ++setCalls;
        Handle* h = Use(key);
        if (h == nullptr) return kInvalidHandle;
        if (!h->writable) return kAccessDenied;
        h->key->values[Lower(name)] = Value{type, data};
        return reg::kSuccess;
    }

    // Like Windows: only a key without sub-keys can go.
    long DeleteKey(RegKey key, const Bytes& subKey) override {
        Handle* h = Use(key);
        if (h == nullptr) return kInvalidHandle;
        std::vector<std::string> parts = Split(subKey);
        if (parts.empty()) return kBadPathname;
        const std::string last = Lower(parts.back());
        parts.pop_back();
        Key* parent = Walk(h->key, parts);
        if (parent == nullptr) return kFileNotFound;
        auto it = parent->subKeys.find(last);
        if (it == parent->subKeys.end()) return kFileNotFound;
        if (parent->readOnly || it->second->readOnly || !it->second->subKeys.empty()) return kAccessDenied;
        parent->subKeys.erase(it);
        return reg::kSuccess;
    }

    long DeleteValue(RegKey key, const Bytes& name) override {
        Handle* h = Use(key);
        if (h == nullptr) return kInvalidHandle;
        if (!h->writable) return kAccessDenied;
        return h->key->values.erase(Lower(name)) == 1 ? reg::kSuccess : kFileNotFound;
    }

    long CloseKey(RegKey key) override {
        if (IsRoot(key)) return reg::kSuccess;
        if (handles_.erase(key) == 0) {
            ++badCloses;
            return kInvalidHandle;
        }
        ++closes;
        return reg::kSuccess;
    }

private:
    struct Handle {
        Key* key;
        bool writable;
    };

    static bool IsRoot(RegKey key) { return key >= reg::kClassesRoot && key <= reg::kDynData; }

    static std::string Lower(const Bytes& s) {
        std::string out = s;
        for (char& c : out) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return out;
    }

    // Empty text is no path at all; empty parts make the path unusable and
    // are kept so callers can refuse it.
    static std::vector<std::string> Split(const Bytes& path) {
        std::vector<std::string> parts;
        if (path.empty()) return parts;
        size_t start = 0;
        for (;;) {
            const size_t slash = path.find('\\', start);
            parts.push_back(path.substr(start, slash == Bytes::npos ? Bytes::npos : slash - start));
            if (slash == Bytes::npos) break;
            start = slash + 1;
        }
        return parts;
    }

    static Key* Walk(Key* from, const std::vector<std::string>& parts) {
        Key* k = from;
        for (const std::string& part : parts) {
            auto it = k->subKeys.find(Lower(part));
            if (it == k->subKeys.end()) return nullptr;
            k = it->second.get();
        }
        return k;
    }

    Handle* Use(RegKey key) {
        if (IsRoot(key)) {
            rootHandle_ = Handle{roots_.at(key).get(), !roots_.at(key)->readOnly};
            return &rootHandle_;
        }
        auto it = handles_.find(key);
        if (it == handles_.end()) {
            ++invalidHandleUses;
            return nullptr;
        }
        return &it->second;
    }

    long Open(RegKey root, const Bytes& subKey, bool wantWrite, bool create, RegKey& out) {
        out = 0;
        Handle* base = Use(root);
        if (base == nullptr) return kInvalidHandle;
        Key* k = base->key;
        for (const std::string& part : Split(subKey)) {
            if (part.empty()) return kBadPathname;
            auto it = k->subKeys.find(Lower(part));
            if (it == k->subKeys.end()) {
                if (!create) return kFileNotFound;
                if (k->readOnly) return kAccessDenied;
                it = k->subKeys.emplace(Lower(part), std::make_unique<Key>()).first;
            }
            k = it->second.get();
        }
        if (wantWrite && k->readOnly) return kAccessDenied;
        out = nextHandle_;
        nextHandle_ += 4;
        handles_[out] = Handle{k, !k->readOnly};
        ++opens;
        return reg::kSuccess;
    }

    std::map<RegKey, std::unique_ptr<Key>> roots_;
    std::map<RegKey, Handle> handles_;
    Handle rootHandle_{nullptr, true};
    RegKey nextHandle_ = 0x1000;
};

}  // namespace qx::fake
