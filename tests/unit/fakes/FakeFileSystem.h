// An in-memory file system that behaves like the Win32 one where the logic
// can tell the difference: paths are case-insensitive, a folder must exist
// before something is created in it, read-only and locked files refuse to be
// written, and failures raise QxError with the same numbers.
//
// Set-up helpers (AddFile, AddDir, Lock, ...) create missing parent folders
// and never raise, so tests can describe a machine in a few lines.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace qx {
namespace fake {

class FakeFileSystem : public IFileSystem {
public:
    struct Entry {
        Text name;  // the last path component as it was first created
        Bytes data;
        uint32_t attributes = attr::kArchive;
        uint64_t creationTime = 0;
        uint64_t accessTime = 0;
        uint64_t writeTime = 0;
        int openCount = 0;    // writers open through CreateForWrite
        bool locked = false;  // held open exclusively by "another program"
    };

    // The time given to files created or written through the interface.
    uint64_t now = 132000000000000000ull;  // 2019-04-16

    FakeFileSystem() = default;

    // ---- set-up and inspection -------------------------------------------

    Entry& AddFile(const Text& path, const Bytes& data = Bytes(), uint32_t attributes = attr::kArchive,
                   uint64_t writeTime = 0) {
        EnsureParents(path);
        Entry& e = entries_[Key(path)];
        e.name = LastComponent(path);
        e.data = data;
        e.attributes = attributes & ~attr::kDirectory;
        const uint64_t t = writeTime != 0 ? writeTime : now;
        e.creationTime = e.accessTime = e.writeTime = t;
        return e;
    }

    Entry& AddDir(const Text& path) {
        EnsureParents(path);
        Entry& e = entries_[Key(path)];
        e.name = LastComponent(path);
        e.attributes |= attr::kDirectory;
        return e;
    }

    // Another program holds the file open without sharing: reads still work
    // (the usual case for a running program file), writes and deletes fail.
    void Lock(const Text& path, bool locked = true) { Get(path).locked = locked; }

    // The entry at path, or nullptr.
    Entry* Find(const Text& path) {
        auto it = entries_.find(Key(path));
        return it == entries_.end() ? nullptr : &it->second;
    }

    // The entry at path; raises 53 when there is none (for test set-up).
    Entry& Get(const Text& path) {
        Entry* e = Find(path);
        if (e == nullptr) throw QxError(err::kFileNotFound, u"测试中没有此文件：" + path);
        return *e;
    }

    Bytes Contents(const Text& path) { return Get(path).data; }

    // Every path held, in the fake's normalised (lower-case) form.
    std::vector<Text> AllPaths() const {
        std::vector<Text> out;
        for (const auto& kv : entries_) out.push_back(kv.first);
        return out;
    }

    // ---- IFileSystem -----------------------------------------------------

    bool FileExists(const Text& path) override {
        const Entry* e = Find(path);
        return e != nullptr && !IsDir(*e);
    }

    bool DirExists(const Text& path) override {
        if (IsRoot(path)) return true;
        const Entry* e = Find(path);
        return e != nullptr && IsDir(*e);
    }

    int64_t FileLength(const Text& path) override {
        return static_cast<int64_t>(ExistingFile(path, u"读取文件长度").data.size());
    }

    Bytes ReadAll(const Text& path) override { return ExistingFile(path, u"读取文件").data; }

    Bytes ReadAt(const Text& path, int64_t offset, size_t count) override {
        if (offset < 0) throw QxError(err::kInvalidCall, u"读取位置无效");
        const Bytes& data = ExistingFile(path, u"读取文件").data;
        const size_t start = static_cast<size_t>(offset);
        if (start >= data.size()) return Bytes();
        return data.substr(start, count);
    }

    void WriteAt(const Text& path, int64_t offset, const Bytes& data) override {
        if (offset < 0) throw QxError(err::kInvalidCall, u"写入位置无效");
        Entry& e = WritableFile(path, u"写入文件");
        const size_t start = static_cast<size_t>(offset);
        if (e.data.size() < start + data.size()) e.data.resize(start + data.size(), '\0');
        e.data.replace(start, data.size(), data);
        e.writeTime = e.accessTime = now;
    }

    std::unique_ptr<IOpenFile> OpenForAppend(const Text& path) override {
        const Entry& e = ExistingFile(path, u"打开文件");
        if (e.locked || e.openCount > 0 || (e.attributes & attr::kReadOnly) != 0) throw Sharing(u"打开文件", path);
        return std::unique_ptr<IOpenFile>(new OpenFile(*this, Key(path)));
    }

    std::unique_ptr<IOpenFile> CreateForWrite(const Text& path) override {
        CheckParent(path, u"创建文件");
        Entry* e = Find(path);
        if (e != nullptr) {
            // Hidden and system files may be overwritten; read-only ones not.
            if (IsDir(*e) || (e->attributes & attr::kReadOnly) != 0) {
                throw Failure(err::kPathFileAccess, u"创建文件", path, u"拒绝访问。");
            }
            if (e->locked || e->openCount > 0) throw Sharing(u"创建文件", path);
            e->data.clear();
            e->writeTime = e->accessTime = now;
        } else {
            AddFile(path, Bytes(), attr::kArchive, now);
        }
        return std::unique_ptr<IOpenFile>(new OpenFile(*this, Key(path)));
    }

    void Replace(const Text& source, const Text& target) override {
        Entry src = ExistingFile(source, u"移动文件");
        if (src.locked || src.openCount > 0) throw Sharing(u"移动文件", source);
        CheckParent(target, u"移动文件");
        if (Entry* t = Find(target)) {
            if (IsDir(*t) || (t->attributes & attr::kReadOnly) != 0) {
                throw Failure(err::kPathFileAccess, u"移动文件", target, u"拒绝访问。");
            }
            if (t->locked || t->openCount > 0) throw Sharing(u"移动文件", target);
        }
        const Entry* old = Find(target);
        if (old != nullptr) src.attributes = old->attributes;  // the target keeps what it had
        entries_.erase(Key(source));
        Entry& t = entries_[Key(target)];
        src.name = LastComponent(target);
        t = src;
    }

    void Copy(const Text& source, const Text& target) override {
        const Entry src = ExistingFile(source, u"复制文件");
        if (src.locked) throw Sharing(u"复制文件", source);
        CheckParent(target, u"复制文件");
        if (Entry* t = Find(target)) {
            // Like CopyFile: a read-only or hidden target is not overwritten.
            if (IsDir(*t) || (t->attributes & (attr::kReadOnly | attr::kHidden)) != 0) {
                throw Failure(err::kPathFileAccess, u"复制文件", target, u"拒绝访问。");
            }
            if (t->locked || t->openCount > 0) throw Sharing(u"复制文件", target);
        }
        // A copy keeps the contents, attributes and last-write time of its source.
        Entry& t = entries_[Key(target)];
        t.name = LastComponent(target);
        t.data = src.data;
        t.attributes = src.attributes;
        t.writeTime = src.writeTime;
        t.creationTime = t.accessTime = now;
        t.openCount = 0;
        t.locked = false;
    }

    void Delete(const Text& path) override {
        CheckParent(path, u"删除文件");
        Entry* e = Find(path);
        if (e == nullptr) throw Failure(err::kFileNotFound, u"删除文件", path, u"系统找不到指定的文件。");
        if (IsDir(*e) || (e->attributes & attr::kReadOnly) != 0) {
            throw Failure(err::kPathFileAccess, u"删除文件", path, u"拒绝访问。");
        }
        if (e->locked || e->openCount > 0) throw Sharing(u"删除文件", path);
        entries_.erase(Key(path));
    }

    uint32_t GetAttributes(const Text& path) override {
        if (IsRoot(path)) return attr::kDirectory;
        return Existing(path, u"读取文件属性").attributes;
    }

    void SetAttributes(const Text& path, uint32_t attributes) override {
        Entry& e = Existing(path, u"设置文件属性");
        const uint32_t settable = attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kArchive;
        e.attributes = (e.attributes & attr::kDirectory) | (attributes & settable);
    }

    std::vector<Text> List(const Text& pattern, uint32_t attributeMask) override {
        Text folder, mask;
        SplitPattern(pattern, folder, mask);
        std::vector<Text> names;
        if (!IsRoot(folder) && !DirExists(folder)) return names;
        const Text prefix = Key(folder) + (IsRoot(folder) ? u"" : u"\\");
        for (const auto& kv : entries_) {
            const Text& key = kv.first;
            if (key.size() <= prefix.size() || key.compare(0, prefix.size(), prefix) != 0) continue;
            if (key.find(u'\\', prefix.size()) != Text::npos) continue;  // deeper down
            const Entry& e = kv.second;
            const uint32_t special = e.attributes & (attr::kHidden | attr::kSystem | attr::kDirectory);
            if ((special & ~attributeMask) != 0) continue;
            if (!Matches(Lower(mask), 0, key.substr(prefix.size()), 0)) continue;
            names.push_back(e.name);
        }
        return names;
    }

    void MakeDir(const Text& path) override {
        CheckParent(path, u"创建文件夹");
        if (IsRoot(path) || Find(path) != nullptr) {
            throw Failure(err::kPathFileAccess, u"创建文件夹", path, u"当文件已存在时，无法创建该文件。");
        }
        AddDir(path);
    }

    bool CanOpenExclusively(const Text& path) override {
        const Entry* e = Find(path);
        if (e == nullptr || IsDir(*e)) return false;
        if ((e->attributes & attr::kReadOnly) != 0) return false;
        return !e->locked && e->openCount == 0;
    }

    uint64_t GetFileWriteTime(const Text& path) override {
        const Entry* e = Find(path);
        if (e == nullptr || IsDir(*e)) return 0;
        return e->writeTime;
    }

    void SetFileTimes(const Text& path, uint64_t fileTime) override {
        Entry* e = Find(path);
        if (e == nullptr || IsDir(*e) || fileTime == 0) return;
        if ((e->attributes & attr::kReadOnly) != 0 || e->locked) return;
        e->creationTime = e->accessTime = e->writeTime = fileTime;
    }

private:
    class OpenFile : public IOpenFile {
    public:
        OpenFile(FakeFileSystem& fs, Text key) : fs_(fs), key_(std::move(key)) { ++Target().openCount; }
        ~OpenFile() override { Close(); }

        void Write(const Bytes& data) override {
            if (closed_) throw QxError(err::kInvalidCall, u"文件已经关闭");
            Entry& e = Target();
            e.data += data;
            e.writeTime = e.accessTime = fs_.now;
        }
        int64_t Length() const override {
            auto it = fs_.entries_.find(key_);
            return it == fs_.entries_.end() ? 0 : static_cast<int64_t>(it->second.data.size());
        }
        void Close() override {
            if (closed_) return;
            closed_ = true;
            auto it = fs_.entries_.find(key_);
            if (it != fs_.entries_.end() && it->second.openCount > 0) --it->second.openCount;
        }

    private:
        Entry& Target() {
            auto it = fs_.entries_.find(key_);
            if (it == fs_.entries_.end()) throw QxError(err::kPathFileAccess, u"打开的文件已不存在");
            return it->second;
        }
        FakeFileSystem& fs_;
        Text key_;
        bool closed_ = false;
    };

    static bool IsDir(const Entry& e) { return (e.attributes & attr::kDirectory) != 0; }

    static Text Lower(Text s) {
        for (char16_t& c : s) {
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        }
        return s;
    }

    // Case-insensitive, "/" read as "\", no trailing backslash except after a drive.
    static Text Key(const Text& path) {
        Text k = Lower(path);
        std::replace(k.begin(), k.end(), u'/', u'\\');
        while (k.size() > 3 && k.back() == u'\\') k.pop_back();
        if (k.size() == 2 && k[1] == u':') k += u'\\';
        return k;
    }

    static bool IsRoot(const Text& path) {
        const Text k = Key(path);
        return k.size() == 3 && k[1] == u':' && k[2] == u'\\';
    }

    static Text Parent(const Text& path) {
        const Text k = Key(path);
        const Text::size_type slash = k.rfind(u'\\');
        if (slash == Text::npos) return Text();
        if (slash == 2 && k[1] == u':') return k.substr(0, 3);
        return k.substr(0, slash);
    }

    static Text LastComponent(const Text& path) {
        Text p = path;
        std::replace(p.begin(), p.end(), u'/', u'\\');
        while (p.size() > 3 && p.back() == u'\\') p.pop_back();
        const Text::size_type slash = p.rfind(u'\\');
        return slash == Text::npos ? p : p.substr(slash + 1);
    }

    void EnsureParents(const Text& path) {
        const Text parent = Parent(path);
        if (parent.empty() || IsRoot(parent) || DirExists(parent)) return;
        AddDir(parent);
    }

    static QxError Failure(int32_t number, const Text& operation, const Text& path, const Text& why) {
        return QxError(number, operation + u"\"" + path + u"\"失败：" + why);
    }

    static QxError Sharing(const Text& operation, const Text& path) {
        return Failure(err::kFileAlreadyOpen, operation, path, u"另一个程序正在使用此文件，进程无法访问。");
    }

    // A relative path or a folder that is not there fails like on Windows.
    void CheckParent(const Text& path, const Text& operation) {
        const Text parent = Parent(path);
        if (parent.empty() || !DirExists(parent)) {
            throw Failure(err::kPathNotFound, operation, path, u"系统找不到指定的路径。");
        }
    }

    Entry& Existing(const Text& path, const Text& operation) {
        CheckParent(path, operation);
        Entry* e = Find(path);
        if (e == nullptr) throw Failure(err::kFileNotFound, operation, path, u"系统找不到指定的文件。");
        return *e;
    }

    Entry& ExistingFile(const Text& path, const Text& operation) {
        Entry& e = Existing(path, operation);
        if (IsDir(e)) throw Failure(err::kPathFileAccess, operation, path, u"拒绝访问。");
        return e;
    }

    Entry& WritableFile(const Text& path, const Text& operation) {
        Entry& e = ExistingFile(path, operation);
        if ((e.attributes & attr::kReadOnly) != 0) {
            throw Failure(err::kPathFileAccess, operation, path, u"拒绝访问。");
        }
        if (e.locked || e.openCount > 0) throw Sharing(operation, path);
        return e;
    }

    // "folder\" lists everything in the folder; "folder\name" one name or wildcard.
    static void SplitPattern(const Text& pattern, Text& folder, Text& mask) {
        Text p = pattern;
        std::replace(p.begin(), p.end(), u'/', u'\\');
        const Text::size_type slash = p.rfind(u'\\');
        if (slash == Text::npos) {
            folder.clear();
            mask = p;
        } else {
            folder = p.substr(0, slash + 1);
            mask = p.substr(slash + 1);
        }
        if (mask.empty() || mask == u"*.*") mask = u"*";
    }

    // Wildcards as the Windows shell knows them: "*" any run, "?" one character.
    static bool Matches(const Text& mask, size_t m, const Text& name, size_t n) {
        while (m < mask.size()) {
            if (mask[m] == u'*') {
                for (size_t k = n; k <= name.size(); ++k) {
                    if (Matches(mask, m + 1, name, k)) return true;
                }
                return false;
            }
            if (n >= name.size()) return false;
            if (mask[m] != u'?' && mask[m] != name[n]) return false;
            ++m;
            ++n;
        }
        return n == name.size();
    }

    std::map<Text, Entry> entries_;
};

}  // namespace fake
}  // namespace qx
