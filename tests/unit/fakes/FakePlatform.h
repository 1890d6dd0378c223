// Hand-written fakes of the platform services. Each records what the logic
// asked of it so tests can check what was shown and done; services a test
// does not expect to be used fail loudly when they are.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"

namespace qx::fake {

// A clock whose time moves only when the logic sleeps, so waits are exact
// and instant. Both the time of day and the monotonic count advance.
class Clock : public IClock {
public:
    double timeOfDay = 12 * 3600.0;
    uint64_t monotonic = 1000000;
    DateTime now{2026, 12, 6, 12, 0, 0};
    int sleeps = 0;
    uint64_t sleptMs = 0;

    double SecondsSinceMidnight() override { return timeOfDay; }
    DateTime Now() override { return now; }
    uint64_t MonotonicMs() override { return monotonic; }
    void Sleep(unsigned ms) override {
        ++sleeps;
        sleptMs += ms;
        monotonic += ms;
        timeOfDay += ms / 1000.0;
        if (timeOfDay >= 86400.0) timeOfDay -= 86400.0;
    }
};

class Random : public IRandom {
public:
    std::deque<double> values;  // handed out in order, then 0.5 forever
    int calls = 0;
    double Next() override {
        ++calls;
        if (values.empty()) return 0.5;
        const double v = values.front();
        values.pop_front();
        return v;
    }
};

class Window : public IWindowUi {
public:
    Text caption;
    Text notice = u"注意：升级前请先关闭所有IE窗口，升级过程中请不要操作鼠标或键盘。";
    std::vector<Text> list;
    int listIndex = -1;
    int refreshes = 0;
    bool updateEnabled = false;
    bool timerRunning = true;
    bool alive = true;
    int closeRequests = 0;
    int doEvents = 0;
    int pointerShape = 0;
    struct Box {
        Text prompt;
        int flags;
        Text title;
    };
    std::vector<Box> boxes;
    std::deque<int> boxAnswers;  // answers in order; OK when empty
    // Input dialogs shown (title and default joined by "|"), and the answers
    // the user gives; an empty answer is a cancel.
    std::vector<Box> inputs;
    std::deque<Text> inputAnswers;
    // Runs inside DoEvents: how a test makes the user act during a wait.
    std::function<void()> onDoEvents;
    // Runs while a message box is open: the user or another program acting.
    std::function<void()> onMsgBox;

    void SetCaption(const Text& c) override { caption = c; }
    Text Caption() const override { return caption; }
    void SetNotice(const Text& n) override { notice = n; }
    void AddListItem(const Text& line) override {
        if (!alive) throw std::logic_error("line added to a destroyed window");
        list.push_back(line);
    }
    int ListCount() const override { return static_cast<int>(list.size()); }
    void SetListIndex(int index) override {
        if (index < -1 || index >= static_cast<int>(list.size()))
            throw std::out_of_range("list index out of range");
        listIndex = index;
    }
    void RefreshList() override { ++refreshes; }
    void EnableUpdateButton(bool enabled) override { updateEnabled = enabled; }
    void StopStartTimer() override { timerRunning = false; }
    void AddMenu() override {}
    void Close() override { ++closeRequests; }
    bool IsAlive() const override { return alive; }
    void DoEvents() override {
        ++doEvents;
        if (onDoEvents) onDoEvents();
    }
    int MsgBox(const Text& prompt, int flags, const Text& title) override {
        boxes.push_back({prompt, flags, title});
        if (onMsgBox) onMsgBox();
        if (boxAnswers.empty()) return mb::kResultOk;
        const int a = boxAnswers.front();
        boxAnswers.pop_front();
        return a;
    }
    Text InputBox(const Text& prompt, const Text& title, const Text& defaultAnswer) override {
        inputs.push_back({prompt, mb::kOkCancel, title + u"|" + defaultAnswer});
        if (inputAnswers.empty()) throw std::logic_error("unexpected input box");
        const Text a = inputAnswers.front();
        inputAnswers.pop_front();
        return a;
    }
    // The progress display and the last count of bytes shown.
    bool progressVisible = false;
    int64_t progressDone = -1;
    void ShowProgress(int64_t done, int64_t) override { progressVisible = true, progressDone = done; }
    void HideProgress() override { progressVisible = false; }
    int MousePointer() const override { return pointerShape; }
    void SetMousePointer(int shape) override { pointerShape = shape; }
};

class Process : public IProcessService {
public:
    Text commandLine;
    Text programPath = u"C:\\Program Files\\QX\\QXUpdate.exe";
    bool previousInstance = false;
    bool commandLineFails = false;
    std::vector<std::pair<Text, int>> started;
    // Every SendKeys call: the keys and the wait flag.
    struct KeysSent {
        std::vector<KeyStroke> keys;
        bool wait;
    };
    std::vector<KeysSent> keysSent;
    // Makes Start or SendKeys fail as the system would.
    bool startFails = false;
    bool sendKeysFails = false;

    Text CommandLine() const override {
        if (commandLineFails) throw QxError(err::kInvalidCall, u"命令行不可读");
        return commandLine;
    }
    Text ProgramPath() const override { return programPath; }
    bool PreviousInstanceRunning() override { return previousInstance; }
    void Start(const Text& cmd, int style) override {
        if (startFails) throw QxError(err::kFileNotFound, u"文件未找到");
        started.emplace_back(cmd, style);
    }
    void SendKeys(const std::vector<KeyStroke>& keys, bool wait) override {
        if (sendKeysFails) throw QxError(err::kInvalidCall, u"无效的过程调用或参数");
        keysSent.push_back({keys, wait});
    }
    // Top-level windows of other programs, found by exact caption. Each one
    // goes away after closesToGo close requests, or never.
    static constexpr int kNeverCloses = -1;
    struct TopWindow {
        Text caption;
        int closesToGo;
        uintptr_t handle;
        bool alive;
        int closeRequests;
    };
    std::vector<TopWindow> windows;
    uintptr_t AddWindow(const Text& caption, int closesToGo) {
        const uintptr_t handle = 0x1000 + windows.size();
        windows.push_back({caption, closesToGo, handle, true, 0});
        return handle;
    }
    TopWindow& WindowOf(uintptr_t handle) {
        for (TopWindow& w : windows) {
            if (w.handle == handle) return w;
        }
        throw std::logic_error("no such window");
    }
    uintptr_t FindTopWindow(const Text& caption) override {
        for (const TopWindow& w : windows) {
            if (w.alive && w.caption == caption) return w.handle;
        }
        return 0;
    }
    bool IsWindowAlive(uintptr_t handle) override {
        for (const TopWindow& w : windows) {
            if (w.handle == handle) return w.alive;
        }
        return false;
    }
    // Like a posted close message: a window already gone ignores it.
    void RequestClose(uintptr_t handle) override {
        TopWindow& w = WindowOf(handle);
        ++w.closeRequests;
        if (w.alive && w.closesToGo > 0 && --w.closesToGo == 0) w.alive = false;
    }
    Bytes WindowsDirectoryAnsi() override { return "C:\\windows"; }
    Bytes SystemDirectoryAnsi() override { return "C:\\windows\\system32"; }
};

class Settings : public ISettingsStore {
public:
    std::map<std::tuple<Text, Text, Text>, Text> values;
    Text GetSetting(const Text& app, const Text& section, const Text& key,
                    const Text& def) override {
        auto it = values.find({app, section, key});
        return it == values.end() ? def : it->second;
    }
    void SaveSetting(const Text& app, const Text& section, const Text& key,
                     const Text& value) override {
        values[{app, section, key}] = value;
    }
    void DeleteSetting(const Text& app, const Text& section, const Text& key) override {
        for (auto it = values.begin(); it != values.end();) {
            const bool match = std::get<0>(it->first) == app && std::get<1>(it->first) == section &&
                               (key.empty() || std::get<2>(it->first) == key);
            it = match ? values.erase(it) : std::next(it);
        }
    }
};

// Latin-1 stands in for the ANSI code page: one byte per character, and
// anything above U+00FF has no mapping.
class CodePage : public ICodePage {
public:
    unsigned Number() const override { return 28591; }
    Bytes ToAnsi(const Text& text) const override {
        Bytes out;
        for (char16_t c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
        return out;
    }
    Text FromAnsi(const Bytes& bytes) const override {
        Text out;
        for (char b : bytes) out.push_back(static_cast<unsigned char>(b));
        return out;
    }
};

// Services not under test: any use is a test failure.
class UnusedRegistry : public IRegistryApi {
public:
    long OpenKeyEx(RegKey, const Bytes&, uint32_t, RegKey&) override { return Fail(); }
    long OpenKey(RegKey, const Bytes&, RegKey&) override { return Fail(); }
    long CreateKey(RegKey, const Bytes&, RegKey&) override { return Fail(); }
    long QueryValueEx(RegKey, const Bytes&, uint32_t&, Bytes&) override { return Fail(); }
    long SetValueEx(RegKey, const Bytes&, uint32_t, const Bytes&) override { return Fail(); }
    long DeleteKey(RegKey, const Bytes&) override { return Fail(); }
    long DeleteValue(RegKey, const Bytes&) override { return Fail(); }
    long CloseKey(RegKey) override { return Fail(); }

private:
    static long Fail() { throw std::logic_error("unexpected registry call"); }
};

class UnusedHttp : public IHttpClient {
public:
    bool Available() override { Fail(); }
    HttpAnswer Head(const Text&, IHttpWaiter&) override { Fail(); }
    HttpAnswer Get(const Text&, int64_t, int64_t, const Text&, IHttpSink&, IHttpWaiter&) override { Fail(); }

private:
    [[noreturn]] static void Fail() { throw std::logic_error("unexpected HTTP request"); }
};

}  // namespace qx::fake
