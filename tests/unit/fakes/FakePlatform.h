// Recording fakes of the platform services: tests read what was shown and
// started; services a test does not expect to be used fail loudly.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "platform/platform.h"

namespace qx::fake {

// Time moves only when the logic sleeps, so waits are exact and instant.
class Clock : public IClock {
public:
    double timeOfDay = 12 * 3600.0;
    uint64_t monotonic = 1000000;
    double SecondsSinceMidnight() override { return timeOfDay; }
    DateTime Now() override { return DateTime{2026, 12, 6, 12, 0, 0}; }
    uint64_t MonotonicMs() override { return monotonic; }
    void Sleep(unsigned ms) override {
        monotonic += ms;
        timeOfDay += ms / 1000.0;
        if (timeOfDay >= 86400.0) timeOfDay -= 86400.0;
    }
};

class Random : public IRandom {
public:
    std::deque<double> values;  // handed out in order, then 0.5
    double Next() override {
        const double v = values.empty() ? 0.5 : values.front();
        if (!values.empty()) values.pop_front();
        return v;
    }
};

class Window : public IWindowUi {
public:
    Text caption;
    Text notice;
    std::vector<Text> list;
    bool updateEnabled = false;
    bool timerRunning = true;
    bool alive = true;
    int closeRequests = 0;
    int pointerShape = 0;
    bool progressVisible = false;
    std::vector<std::tuple<Text, int, Text>> boxes;  // prompt, flags, title
    std::deque<int> boxAnswers;                      // OK when empty
    std::deque<Text> inputAnswers;                   // a missing answer fails the test
    std::vector<Text> inputDefaults;
    std::function<void()> onDoEvents;

    void SetCaption(const Text& c) override { caption = c; }
    Text Caption() const override { return caption; }
    void SetNotice(const Text& n) override { notice = n; }
    void AddListItem(const Text& line) override {
        if (!alive) throw std::logic_error("line added to a destroyed window");
        list.push_back(line);
    }
    int ListCount() const override { return static_cast<int>(list.size()); }
    void SetListIndex(int index) override {
        if (index != ListCount() - 1) throw std::out_of_range("not the last line");
    }
    void RefreshList() override {}
    void EnableUpdateButton(bool enabled) override { updateEnabled = enabled; }
    void StopStartTimer() override { timerRunning = false; }
    void AddMenu() override {}
    void Close() override { ++closeRequests; }
    bool IsAlive() const override { return alive; }
    void DoEvents() override { onDoEvents ? onDoEvents() : void(); }
    int MsgBox(const Text& prompt, int flags, const Text& title) override {
        boxes.emplace_back(prompt, flags, title);
        const int a = boxAnswers.empty() ? mb::kResultOk : boxAnswers.front();
        if (!boxAnswers.empty()) boxAnswers.pop_front();
        return a;
    }
    Text InputBox(const Text&, const Text&, const Text& defaultAnswer) override {
        inputDefaults.push_back(defaultAnswer);
        const Text a = inputAnswers.empty() ? throw std::logic_error("unexpected input box") : inputAnswers.front();
        inputAnswers.pop_front();
        return a;
    }
    void ShowProgress(int64_t, int64_t) override { progressVisible = true; }
    void HideProgress() override { progressVisible = false; }
    int MousePointer() const override { return pointerShape; }
    void SetMousePointer(int shape) override { pointerShape = shape; }
};

class Process : public IProcessService {
public:
    Text commandLine;
    Text programPath = u"C:\\Program Files\\QX\\QXUpdate.exe";
    bool previousInstance = false;
    bool fails = false;  // Start and CommandLine raise
    std::vector<std::pair<Text, int>> started;
    std::vector<std::vector<KeyStroke>> keysSent;
    // Other programs' windows by caption, each closing after this many
    // close requests (-1: never).
    std::map<uintptr_t, std::pair<Text, int>> windows;

    Text CommandLine() const override { return fails ? throw QxError(err::kInvalidCall, u"命令行") : commandLine; }
    Text ProgramPath() const override { return programPath; }
    bool PreviousInstanceRunning() override { return previousInstance; }
    void Start(const Text& cmd, int style) override {
        if (fails) throw QxError(err::kFileNotFound, u"文件未找到");
        started.emplace_back(cmd, style);
    }
    void SendKeys(const std::vector<KeyStroke>& keys, bool) override { keysSent.push_back(keys); }
    uintptr_t FindTopWindow(const Text& caption) override {
        for (const auto& w : windows) {
            if (w.second.first == caption && w.second.second != 0) return w.first;
        }
        return 0;
    }
    bool IsWindowAlive(uintptr_t handle) override { return windows.count(handle) && windows[handle].second != 0; }
    void RequestClose(uintptr_t handle) override {
        if (windows[handle].second > 0) --windows[handle].second;
    }
    Bytes WindowsDirectoryAnsi() override { return Bytes("C:\\windows\0\0", 12); }
    Bytes SystemDirectoryAnsi() override { return "C:\\windows\\system32"; }
};

class Settings : public ISettingsStore {
public:
    std::map<std::tuple<Text, Text, Text>, Text> values;
    Text GetSetting(const Text& app, const Text& section, const Text& key, const Text& def) override {
        auto it = values.find({app, section, key});
        return it == values.end() ? def : it->second;
    }
    void SaveSetting(const Text& app, const Text& section, const Text& key, const Text& value) override {
        values[{app, section, key}] = value;
    }
    void DeleteSetting(const Text& app, const Text& section, const Text& key) override {
        values.erase({app, section, key});
    }
};

// Latin-1 stands in for the ANSI code page.
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

}  // namespace qx::fake
