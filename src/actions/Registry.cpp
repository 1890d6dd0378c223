#include "actions/Registry.h"

#include "download/NumericValue.h"

namespace qx {

namespace {

constexpr size_t kReadBufferSize = 1024;
// Byte counts and character positions of a binary value were 16-bit in the
// script format from the start; longer texts are refused, not cut.
constexpr long kMaxBinaryBytes = 16384;

const Text kHexPrefix = u"hex:";
const Text kDwordPrefix = u"dword:";

struct RegPath {
    Text root;
    Text keyPath;    // empty when the part after the root has no backslash
    Text valueName;  // empty when the path ends in a backslash
    bool hasKeyPath = false;
};

[[noreturn]] void RaiseIncompletePath(const Text& full) {
    throw QxError(err::kInvalidCall, u"注册表路径\"" + full + u"\"不完整");
}

RegPath CutPath(const Text& full) {
    const size_t first = full.find(u'\\');
    if (first == Text::npos) RaiseIncompletePath(full);
    RegPath p;
    p.root = full.substr(0, first);
    const Text rest = full.substr(first + 1);
    const size_t last = rest.rfind(u'\\');
    if (last == Text::npos) {
        p.valueName = rest;
    } else {
        p.hasKeyPath = true;
        p.keyPath = rest.substr(0, last);
        p.valueName = rest.substr(last + 1);
    }
    return p;
}

Text Upper(const Text& s) {
    Text out = s;
    for (char16_t& c : out) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return out;
}

bool StartsWithNoCase(const Text& s, const Text& prefix) {
    return s.size() >= prefix.size() && Upper(s.substr(0, prefix.size())) == Upper(prefix);
}

// A key this module opened; closed on every way out, failures included.
class OpenedKey {
public:
    explicit OpenedKey(IRegistryApi& api) : api_(api) {}
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    ~OpenedKey() {
        if (handle != 0) api_.CloseKey(handle);
    }
    RegKey handle = 0;

private:
    IRegistryApi& api_;
};

uint32_t ReadLittleEndian32(const Bytes& b) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[static_cast<size_t>(i)]);
    return v;
}

Bytes LittleEndian32(uint32_t v) {
    Bytes b(4, '\0');
    for (size_t i = 0; i < 4; ++i) b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

}  // namespace

uint32_t RegValueType(const Text& strValue, Text* payload) {
    uint32_t type = reg::kSz;
    size_t prefix = 0;
    if (StartsWithNoCase(strValue, kHexPrefix)) {
        type = reg::kBinary;
        prefix = kHexPrefix.size();
    } else if (StartsWithNoCase(strValue, kDwordPrefix)) {
        type = reg::kDword;
        prefix = kDwordPrefix.size();
    }
    if (payload != nullptr) *payload = strValue.substr(prefix);
    return type;
}

// Pairs of hexadecimal digits without separators. The byte count is half
// the length rounded half-to-even, so an odd last digit forms a pair of its
// own only when rounding goes up; a pair is read like "&h" + pair, so it
// counts the hexadecimal digits at its start and nothing after them.
Bytes RegBinaryData(const Text& digits) {
    size_t n = digits.size() / 2;
    if (digits.size() % 2 != 0 && n % 2 != 0) ++n;  // x.5 goes to the even neighbour
    if (n > static_cast<size_t>(kMaxBinaryBytes)) throw QxError(err::kOverflow, u"溢出");
    Bytes data;
    data.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const Text pair = 2 * i < digits.size() ? digits.substr(2 * i, 2) : Text();
        const NumericReading r = ReadNumber(u"&h" + pair);
        data.push_back(static_cast<char>(r.bits & 0xFF));
    }
    return data;
}

// A hexadecimal or octal number is a bit pattern: "&hFFFF" means the 32-bit
// value 0000FFFF, not -1 widened. A decimal number is rounded and must fit
// a signed 32-bit integer; negative numbers are stored as two's complement.
Bytes RegDwordData(const Text& number) {
    const NumericReading r = ReadNumber(number);
    if (r.radix != 10) return LittleEndian32(r.bits);
    return LittleEndian32(static_cast<uint32_t>(RoundToLong(r.value)));
}

RegKey GetRootKey(const Text& strRoot) {
    struct Root {
        const char16_t* name;
        const char16_t* shortName;
        RegKey key;
    };
    static const Root kRoots[] = {
        {u"HKEY_CLASSES_ROOT", u"HKCR", reg::kClassesRoot},
        {u"HKEY_CURRENT_USER", u"HKCU", reg::kCurrentUser},
        {u"HKEY_LOCAL_MACHINE", u"HKLM", reg::kLocalMachine},
        {u"HKEY_USERS", nullptr, reg::kUsers},
        {u"HKEY_PERFORMANCE_DATA", nullptr, reg::kPerformanceData},
        {u"HKEY_CURRENT_CONFIG", nullptr, reg::kCurrentConfig},
        {u"HKEY_DYN_DATA", nullptr, reg::kDynData},
    };
    const Text name = Upper(strRoot);
    for (const Root& root : kRoots) {
        if (name == root.name || (root.shortName != nullptr && name == root.shortName)) return root.key;
    }
    return 0;
}

bool QueryRegValue(IRegistryApi& api, const ICodePage& codepage, RegKey hRoot, const Text& strKeyPath,
                   const Text& strValueName, Text& strOut) {
    strOut.clear();
    if (hRoot == 0) return false;
    OpenedKey key(api);
    // Read access only: reading a machine-wide value must work for a user
    // who may not change it.
    RegKey opened = 0;
    if (api.OpenKeyEx(hRoot, codepage.ToAnsi(strKeyPath), reg::kKeyRead, opened) != reg::kSuccess) return false;
    key.handle = opened;

    uint32_t type = 0;
    Bytes data;
    if (api.QueryValueEx(key.handle, codepage.ToAnsi(strValueName), type, data) != reg::kSuccess) return false;
    if (data.size() > kReadBufferSize) return false;

    Bytes buffer(kReadBufferSize, '\0');
    buffer.replace(0, data.size(), data);
    if (type == reg::kSz) {
        strOut = codepage.FromAnsi(buffer.substr(0, buffer.find('\0')));
    } else if (type == reg::kDword) {
        strOut = FromUtf8(std::to_string(static_cast<int32_t>(ReadLittleEndian32(buffer))));
    }
    return true;
}

Text GetRegValue(IRegistryApi& api, const ICodePage& codepage, const Text& strKeyPath, const Text& strDefault) {
    const RegPath p = CutPath(strKeyPath);
    if (!p.hasKeyPath) RaiseIncompletePath(strKeyPath);
    Text result;
    if (!QueryRegValue(api, codepage, GetRootKey(p.root), p.keyPath, p.valueName, result)) return strDefault;
    return result;
}

bool SetRegValue(IRegistryApi& api, const ICodePage& codepage, const Text& strKeyPath, const Text& strValue) {
    const RegPath p = CutPath(strKeyPath);
    const RegKey root = GetRootKey(p.root);

    OpenedKey opened(api);
    RegKey target = 0;
    if (p.keyPath.empty()) {
        target = root;
    } else if (root != 0) {
        const Bytes ansiKey = codepage.ToAnsi(p.keyPath);
        RegKey h = 0;
        if (api.OpenKey(root, ansiKey, h) != reg::kSuccess) {
            h = 0;
            if (api.CreateKey(root, ansiKey, h) != reg::kSuccess) h = 0;
        }
        opened.handle = h;
        target = h;
    }

    // A path that names only a key is how a script makes sure a key exists.
    if (p.valueName.empty()) return target != 0;

    // The default value has no name of its own; "@" stands for it here.
    const Bytes name = p.valueName == u"@" ? Bytes() : codepage.ToAnsi(p.valueName);
    Text payload;
    const uint32_t type = RegValueType(strValue, &payload);
    Bytes data;
    if (type == reg::kBinary) {
        data = RegBinaryData(payload);
    } else if (type == reg::kDword) {
        data = RegDwordData(payload);
    } else {
        data = codepage.ToAnsi(strValue);
        data.push_back('\0');
    }
    if (target == 0) return false;
    return api.SetValueEx(target, name, type, data) == reg::kSuccess;
}

bool DeleteRegEntry(IRegistryApi& api, const ICodePage& codepage, const Text& strKeyPath) {
    const RegPath p = CutPath(strKeyPath);
    if (!p.hasKeyPath) RaiseIncompletePath(strKeyPath);
    const RegKey root = GetRootKey(p.root);
    if (root == 0) return false;
    if (p.valueName.empty()) return api.DeleteKey(root, codepage.ToAnsi(p.keyPath)) == reg::kSuccess;

    OpenedKey key(api);
    RegKey h = 0;
    if (api.OpenKey(root, codepage.ToAnsi(p.keyPath), h) != reg::kSuccess) return false;
    key.handle = h;
    return api.DeleteValue(key.handle, codepage.ToAnsi(p.valueName)) == reg::kSuccess;
}

void DoRegWrite(IProgressLog& log, IRegistryApi& api, const ICodePage& codepage, const Text& strKey,
                const Text& strValue) {
    log.Message(u"正在写注册表信息\"" + strKey + u"\"……");
    try {
        SetRegValue(api, codepage, strKey, strValue);
    } catch (...) {
        LogFailure(log, u"写注册表信息\"" + strKey + u"\"");
    }
}

void DoRegDelete(IProgressLog& log, IRegistryApi& api, const ICodePage& codepage, const Text& strKey) {
    log.Message(u"正在删除注册表信息\"" + strKey + u"\"……");
    DeleteRegEntry(api, codepage, strKey);
}

}  // namespace qx
