// An in-memory registry: keys by root and lower-case path, values by
// lower-case name, and a count of the handles left open.
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/registry.h"

namespace qx::fake {

class FakeRegistry : public IRegistryApi {
public:
    struct Value {
        uint32_t type = 0;
        Bytes data;
    };
    std::map<std::string, std::map<std::string, Value>> keys;  // "root\path" -> values
    std::set<std::string> readOnly;                             // keys the user may not change
    std::map<RegKey, std::string> open;

    static std::string Lower(std::string s) {
        for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        return s;
    }
    static std::string Path(RegKey root, const Bytes& sub) {
        return Lower(std::to_string(root) + (sub.empty() ? "" : "\\" + sub));
    }
    void Put(RegKey root, const Bytes& sub, const Bytes& name, uint32_t type, const Bytes& data) {
        keys[Path(root, sub)][Lower(name)] = Value{type, data};
    }
    const Value* FindValue(RegKey root, const Bytes& sub, const Bytes& name) {
        auto k = keys.find(Path(root, sub));
        if (k == keys.end() || !k->second.count(Lower(name))) return nullptr;
        return &k->second[Lower(name)];
    }

    long OpenKeyEx(RegKey root, const Bytes& sub, uint32_t, RegKey& out) override { return OpenKey(root, sub, out); }
    long OpenKey(RegKey root, const Bytes& sub, RegKey& out) override {
        if (!Known(root) || !keys.count(Path(root, sub))) return 2;
        out = ++lastHandle_;
        open[out] = Path(root, sub);
        return reg::kSuccess;
    }
    long CreateKey(RegKey root, const Bytes& sub, RegKey& out) override {
        if (Known(root) && !readOnly.count(Path(root, sub))) keys[Path(root, sub)];
        return OpenKey(root, sub, out);
    }
    long QueryValueEx(RegKey key, const Bytes& name, uint32_t& type, Bytes& data) override {
        auto k = keys.find(KeyOf(key));
        if (k == keys.end() || !k->second.count(Lower(name))) return 2;
        type = k->second[Lower(name)].type;
        data = k->second[Lower(name)].data;
        return reg::kSuccess;
    }
    long SetValueEx(RegKey key, const Bytes& name, uint32_t type, const Bytes& data) override {
        if (readOnly.count(KeyOf(key))) return 5;
        keys[KeyOf(key)][Lower(name)] = Value{type, data};
        return reg::kSuccess;
    }
    long DeleteKey(RegKey key, const Bytes& sub) override { return keys.erase(Path(key, sub)) ? 0 : 2; }
    long DeleteValue(RegKey key, const Bytes& name) override { return keys[KeyOf(key)].erase(Lower(name)) ? 0 : 2; }
    long CloseKey(RegKey key) override { return open.erase(key) ? 0 : 6; }

private:
    static bool Known(RegKey root) { return root >= reg::kClassesRoot && root <= reg::kDynData; }
    RegKey lastHandle_ = 0x100;
    std::string KeyOf(RegKey key) const { return open.count(key) ? open.at(key) : Path(key, Bytes()); }
};

}  // namespace qx::fake
