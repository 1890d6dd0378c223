#include "config/HandOver.h"

#include "config/Trailer.h"
#include "download/Naming.h"

namespace qx {

namespace {

constexpr unsigned kPollMs = 100;
// The other copy gets this long to close its window after the first request.
constexpr uint64_t kCloseLimitMs = 6000;
// A process whose window is gone may still hold its program file this long.
constexpr uint64_t kFileLimitMs = 3000;

enum class PollResult { Done, TimedOut, Abandoned };

// Runs act, lets the window handle its messages, and stops once settled()
// holds or limitMs have passed since the first round; otherwise sleeps and
// goes round again. Elapsed time comes from the monotonic clock so a wait
// across midnight, or across a change of the clock, keeps its length.
template <class Act, class Settled>
PollResult Poll(const Platform& p, uint64_t limitMs, Act act, Settled settled) {
    const uint64_t start = p.clock.MonotonicMs();
    for (;;) {
        act();
        p.ui.DoEvents();
        // The user closed this copy meanwhile: there is nobody left to
        // carry on or to report to.
        if (!p.ui.IsAlive()) return PollResult::Abandoned;
        if (settled()) return PollResult::Done;
        if (p.clock.MonotonicMs() - start >= limitMs) return PollResult::TimedOut;
        p.clock.Sleep(kPollMs);
    }
}

Text GetHandOver(ISettingsStore& settings, const char16_t* key) {
    return settings.GetSetting(kHandOverApp, kHandOverSection, key, Text());
}

void DeleteHandOver(ISettingsStore& settings, const char16_t* key) {
    settings.DeleteSetting(kHandOverApp, kHandOverSection, key);
}

// Reads a setting and removes it, so that no later copy acts on it again.
Text TakeHandOver(ISettingsStore& settings, const char16_t* key) {
    const Text value = GetHandOver(settings, key);
    if (!value.empty()) DeleteHandOver(settings, key);
    return value;
}

void DeleteQuietly(IFileSystem& files, const Text& path) {
    try {
        if (files.FileExists(path)) files.Delete(path);
    } catch (...) {
        // Left behind; nothing depends on it being gone.
    }
}

// Asks the copy captioned strTag to close until its window is gone or the
// time is up. True when no window has that caption any more.
bool CloseOtherCopy(const Platform& p, const Text& strTag, bool& abandoned) {
    IProcessService& process = p.process;
    uintptr_t found = 0;
    const PollResult r = Poll(
        p, kCloseLimitMs,
        [&] {
            found = process.FindTopWindow(strTag);
            if (found != 0) process.RequestClose(found);
        },
        [&] { return found == 0 || !process.IsWindowAlive(found); });
    abandoned = r == PollResult::Abandoned;
    if (abandoned) return false;
    return process.FindTopWindow(strTag) == 0;
}

// One attempt at bringing the installed file up to date. Every step is
// tried even when an earlier one failed; false when any of them failed.
bool WriteInstalledFile(const Platform& p, const Text& strOld, const Text& strOwn, const Text& strStaging,
                        const Text& strIP, const Text& strSetupPath) {
    IFileSystem& files = p.files;
    bool ok = true;
    if (strIP.empty() && strSetupPath.empty()) {
        // The new program goes next to the installed file first and then
        // takes its place in one step: a copy straight over the installed
        // file that broke off half-way would leave no working updater.
        try {
            // While the previous process still holds its file the round
            // fails at once, so this window answers between rounds.
            if (files.FileExists(strOld) && !files.CanOpenExclusively(strOld)) return false;
            files.Copy(strOwn, strStaging);
            files.Replace(strStaging, strOld);
        } catch (...) {
            ok = false;
        }
        return ok;
    }
    // The trailer is the only part that changes, written in place.
    if (!strIP.empty()) {
        try {
            WriteIP(files, p.codepage, strOld, strIP);
        } catch (...) {
            ok = false;
        }
    }
    if (!strSetupPath.empty()) {
        try {
            WriteSetupPath(files, p.codepage, strOld, strSetupPath);
        } catch (...) {
            ok = false;
        }
    }
    return ok;
}

void ActAsTemporaryCopy(const Platform& p, IProgressLog& log, const Text& strAppDir, const Text& strOld) {
    log.Message(u"正在复制新的更新程序……");
    const Text strIP = TakeHandOver(p.settings, kServerIPKey);
    const Text strSetupPath = TakeHandOver(p.settings, kSetupPathKey);
    const Text strOwn = InstalledProgramFile(p.process, strAppDir);
    const Text strStaging = strOld + u".new";

    bool written = false;
    const PollResult r = Poll(
        p, kFileLimitMs,
        [&] { written = WriteInstalledFile(p, strOld, strOwn, strStaging, strIP, strSetupPath); },
        [&] { return written; });
    if (!written) DeleteQuietly(p.files, strStaging);
    // Closed by the user: no restart. A write that got through in that very
    // round still leaves this program file for the next start to remove.
    if (r == PollResult::Abandoned) {
        if (written) p.settings.SaveSetting(kHandOverApp, kHandOverSection, kToDeleteKey, strOwn);
        return;
    }
    if (!written) {
        // The installed file is as it was; this copy stays open so the
        // user sees why.
        log.Message(u"复制新的更新程序失败。");
        return;
    }

    const Text strTag = GetRndString(p.random, kHandOverTagLength);
    p.ui.SetCaption(strTag);
    log.Message(u"正在启动新的更新程序……");
    p.settings.SaveSetting(kHandOverApp, kHandOverSection, kToDeleteKey, strOwn);
    p.process.Start(HandOverCommandLine(strOld, strTag), winstyle::kNormalFocus);
}

void ActAsRestartedCopy(const Platform& p, IProgressLog& log) {
    log.Message(u"更换旧版本的升级程序成功。");
    log.Message(u"请按“开始升级”按钮重新进行升级。");
    DeleteLeftOverCopy(p);
}

}  // namespace

void DeleteLeftOverCopy(const Platform& p) {
    const Text strToDelete = GetHandOver(p.settings, kToDeleteKey);
    if (strToDelete.empty()) return;
    try {
        DeleteHandOver(p.settings, kToDeleteKey);
    } catch (...) {
        // Left behind; a later hand-over overwrites it.
    }
    // The temporary copy's window is gone, but its process may still hold
    // its program file for a moment while it ends.
    Poll(
        p, kFileLimitMs, [&] { DeleteQuietly(p.files, strToDelete); },
        [&] {
            try {
                return !p.files.FileExists(strToDelete);
            } catch (...) {
                return true;
            }
        });
}

Text HandOverCommandLine(const Text& program, const Text& tag) { return u"\"" + program + u"\" " + tag; }

void UpdateThisApp(const Platform& p, IProgressLog& log, const Text& strAppDir, const Text& strTag) {
    try {
        ISettingsStore& settings = p.settings;
        const Text strOld = GetHandOver(settings, kOldExePathKey);
        if (!strOld.empty()) {
            DeleteHandOver(settings, kOldExePathKey);
            log.Message(u"正在退出旧版本升级程序……");
        } else {
            log.Message(u"正在退出临时程序……");
        }

        bool abandoned = false;
        if (!CloseOtherCopy(p, strTag, abandoned)) {
            if (!abandoned) {
                log.Message(u"退出旧版本的升级程序失败……");
            } else if (!strOld.empty()) {
                // Closed before it could act: a later hand-over that only
                // replaces the program must not take these for its own.
                DeleteHandOver(settings, kServerIPKey);
                DeleteHandOver(settings, kSetupPathKey);
            }
            return;
        }

        if (!strOld.empty()) {
            ActAsTemporaryCopy(p, log, strAppDir, strOld);
        } else {
            ActAsRestartedCopy(p, log);
        }
    } catch (...) {
        LogFailure(log, u"更新升级主程序");
    }
}

}  // namespace qx
