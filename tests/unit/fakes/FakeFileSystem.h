// An in-memory file system: case-insensitive paths, attributes, write times,
// files held open by "another program", and failures on demand. Set-up
// helpers never raise and make parent folders as needed.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace qx::fake {

class FakeFileSystem : public IFileSystem {
public:
    struct Entry {
        Bytes data;
        uint32_t attributes = attr::kArchive;
        uint64_t writeTime = 0, creationTime = 0, accessTime = 0;
        bool locked = false;  // held without sharing: reads work, writes fail
        int open = 0;
    };
    uint64_t now = 132000000000000000ull;
    // An operation ("Copy", "Create", "Replace", ...) on a path for which this
    // is true fails as if another program held the file.
    std::function<bool(const std::string& op, const Text& path)> fails;

    Entry& AddFile(const Text& path, const Bytes& data = Bytes(), uint32_t attributes = attr::kArchive,
                   uint64_t writeTime = 0) {
        AddDir(Parent(Key(path)));
        const uint64_t t = writeTime != 0 ? writeTime : now;
        return map_[Key(path)] = Entry{data, attributes & ~attr::kDirectory, t, t, t};
    }
    void AddDir(const Text& path) {
        for (Text k = Key(path); k.size() > 3; k = Parent(k)) map_[k].attributes |= attr::kDirectory;
    }
    void Lock(const Text& path, bool locked = true) { Get(path).locked = locked; }
    Entry* Find(const Text& path) {
        auto it = map_.find(Key(path));
        return it == map_.end() ? nullptr : &it->second;
    }
    Entry& Get(const Text& path) {
        if (Entry* e = Find(path)) return *e;
        throw QxError(err::kFileNotFound, u"文件未找到" + path);
    }
    Bytes Contents(const Text& path) { return Get(path).data; }

    bool FileExists(const Text& p) override { return File(p) != nullptr; }
    bool DirExists(const Text& p) override { return Key(p).size() == 3 || (Find(p) && !File(p)); }
    int64_t FileLength(const Text& p) override { return static_cast<int64_t>(Existing("Length", p).data.size()); }
    Bytes ReadAll(const Text& p) override { return Existing("Read", p).data; }
    Bytes ReadAt(const Text& p, int64_t offset, size_t count) override {
        const Bytes& d = Existing("Read", p).data;
        if (offset < 0) throw QxError(err::kInvalidCall, u"读取位置无效");
        return static_cast<size_t>(offset) >= d.size() ? Bytes() : d.substr(static_cast<size_t>(offset), count);
    }
    void WriteAt(const Text& p, int64_t offset, const Bytes& data) override {
        Entry& e = Writable("Write", p);
        e.data.resize(std::max(e.data.size(), static_cast<size_t>(offset) + data.size()));
        e.data.replace(static_cast<size_t>(offset), data.size(), data);
    }
    std::unique_ptr<IOpenFile> OpenForAppend(const Text& p) override {
        Writable("Append", p);
        return std::make_unique<OpenFile>(*this, Key(p));
    }
    std::unique_ptr<IOpenFile> CreateForWrite(const Text& p) override {
        if (Find(p) != nullptr) Writable("Create", p).data.clear();
        else if (!DirExists(Parent(Key(p)))) throw QxError(err::kPathNotFound, u"找不到路径" + p);
        else Check("Create", p), AddFile(p);
        return std::make_unique<OpenFile>(*this, Key(p));
    }
    void Replace(const Text& from, const Text& to) override {
        const Entry moved = Writable("Replace", from);
        if (Find(to) != nullptr) Writable("Replace", to);
        map_.erase(Key(from));
        map_[Key(to)] = moved;
    }
    void Copy(const Text& from, const Text& to) override {
        const Entry src = Existing("Copy", from);
        if (Find(to) != nullptr && (Writable("Copy", to).attributes & attr::kHidden) != 0) throw Denied(to);
        map_[Key(to)] = Entry{src.data, src.attributes, src.writeTime};
    }
    void Delete(const Text& p) override {
        Writable("Delete", p);
        map_.erase(Key(p));
    }
    uint32_t GetAttributes(const Text& p) override { return Any("Attributes", p).attributes; }
    void SetAttributes(const Text& p, uint32_t a) override {
        Entry& e = Any("Attributes", p);
        e.attributes = (e.attributes & attr::kDirectory) | (a & ~attr::kDirectory);
    }
    // One exact name, or a folder's entries when the pattern ends in "\".
    std::vector<Text> List(const Text& pattern, uint32_t mask) override {
        std::vector<Text> out;
        for (const auto& [key, e] : map_) {
            const bool match = key == Key(pattern) || (pattern.back() == u'\\' && Parent(key) == Key(pattern));
            const uint32_t special = e.attributes & (attr::kHidden | attr::kSystem | attr::kDirectory);
            if (match && (special & ~mask) == 0) out.push_back(key);
        }
        return out;
    }
    void MakeDir(const Text& p) override {
        Check("MakeDir", p);
        if (Find(p) != nullptr || !DirExists(Parent(Key(p)))) throw Denied(p);
        AddDir(p);
    }
    bool CanOpenExclusively(const Text& p) override {
        const Entry* e = File(p);
        return e != nullptr && !e->locked && e->open == 0 && (e->attributes & attr::kReadOnly) == 0;
    }
    uint64_t GetFileWriteTime(const Text& p) override { return File(p) ? File(p)->writeTime : 0; }
    void SetFileTimes(const Text& p, uint64_t t) override {
        if (t != 0 && CanOpenExclusively(p)) File(p)->creationTime = File(p)->accessTime = File(p)->writeTime = t;
    }

private:
    struct OpenFile : IOpenFile {
        OpenFile(FakeFileSystem& fs, Text key) : fs(fs), key(std::move(key)) { ++fs.map_.at(this->key).open; }
        ~OpenFile() override { Close(); }
        void Write(const Bytes& d) override { fs.map_.at(key).data += d; }
        int64_t Length() const override { return static_cast<int64_t>(fs.map_.at(key).data.size()); }
        void Close() override {
            if (!closed && fs.map_.count(key)) --fs.map_[key].open;
            closed = true;
        }
        FakeFileSystem& fs;
        Text key;
        bool closed = false;
    };
    static Text Key(Text p) {
        for (char16_t& c : p) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c == u'/' ? u'\\' : c;
        while (p.size() > 3 && p.back() == u'\\') p.pop_back();
        return p;
    }
    static Text Parent(const Text& k) {
        const size_t slash = k.rfind(u'\\');
        return slash == Text::npos ? Text() : k.substr(0, slash == 2 ? 3 : slash);
    }
    static QxError Denied(const Text& p) { return QxError(err::kPathFileAccess, u"拒绝访问" + p); }
    void Check(const std::string& op, const Text& p) {
        if (fails && fails(op, p)) throw QxError(err::kFileAlreadyOpen, u"文件已打开" + p);
    }
    Entry* File(const Text& p) {
        Entry* e = Find(p);
        return e != nullptr && (e->attributes & attr::kDirectory) == 0 ? e : nullptr;
    }
    Entry& Any(const std::string& op, const Text& p) {
        Check(op, p);
        return Get(p);
    }
    Entry& Existing(const std::string& op, const Text& p) {
        Entry& e = Any(op, p);
        if ((e.attributes & attr::kDirectory) != 0) throw Denied(p);
        return e;
    }
    Entry& Writable(const std::string& op, const Text& p) {
        Entry& e = Existing(op, p);
        if ((e.attributes & attr::kReadOnly) != 0) throw Denied(p);
        if (e.locked || e.open > 0) throw QxError(err::kFileAlreadyOpen, u"文件已打开" + p);
        return e;
    }
    std::map<Text, Entry> map_;
};

}  // namespace qx::fake
