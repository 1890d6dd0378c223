#include "script/CommandTable.h"

#include "actions/FileActions.h"
#include "actions/HostsFile.h"
#include "actions/ProgramActions.h"
#include "actions/Registry.h"
#include "config/VersionCheck.h"
#include "config/WorkPath.h"
#include "download/TextUtils.h"
#include "download/DownloadCommands.h"
#include "download/Naming.h"
#include "download/NumericValue.h"
#include "script/ProcessLine.h"
#include "script/ScriptContext.h"

namespace qx {

namespace {

using K = FieldKind;
using F = const LineFields&;
using C = const ScriptContext&;

}  // namespace

const std::vector<CommandSpec>& Commands() {
    static const std::vector<CommandSpec> kCommands = {
        {u"ver",
         {{K::kServerFile, true, u"the new updater's file on the server"},
          {K::kVersion, true, u"the version number"},
          {K::kPin, false, u""}},
         [](C c, F f) { DoCheckVersion(c.Downloads(), c.p, c.fields.blnQuit, f[1], f[2], f[3]); return true; },
         true},
        {u"down",
         {{K::kServerFile, true, u"a file on the server"}, {K::kLocalPath, false, u""}, {K::kPin, false, u""}},
         [](C c, F f) { static_cast<void>(DoDown(c.Downloads(), f[1], f[2], f[3])); return true; }},
        // A file in use stops the session.
        {u"checkwritable",
         {{K::kLocalPath, true, u"the file to test"}},
         [](C c, F f) { return DoCheckWritable(c.log, c.p.files, c.p.ui, c.fields.strWorkDir, f[1]); }},
        {u"create",
         {{K::kServerFile, true, u"a file on the server"}, {K::kLocalPath, false, u""}, {K::kPin, false, u""}},
         [](C c, F f) { static_cast<void>(DoCreate(c.Downloads(), f[1], f[2], f[3])); return true; }},
        {u"update",
         {{K::kServerFile, true, u"a file on the server"}, {K::kLocalPath, false, u""}, {K::kPin, false, u""}},
         [](C c, F f) { static_cast<void>(DoUpdate(c.Downloads(), f[1], f[2], f[3])); return true; }},
        {u"copy",
         {{K::kPattern, true, u"the file to copy"}, {K::kPattern, false, u""}, {K::kCopyFlag, false, u""}},
         [](C c, F f) { DoCopy(c.log, c.p.files, c.fields, f[1], f[2], CopyOverwrites(f[3])); return true; }},
        {u"delete",
         {{K::kPattern, true, u"the file to delete"}},
         [](C c, F f) { DoDelete(c.log, c.p.files, c.fields.strWorkDir, f[1]); return true; }},
        {u"regwrite",
         {{K::kRegKey, true, u"a registry path"}, {K::kRegValue, false, u""}},
         [](C c, F f) { DoRegWrite(c.log, c.p.registry, c.p.codepage, f[1], f[2]); return true; }},
        {u"regdelete",
         {{K::kRegKeyDelete, true, u"a registry path"}},
         [](C c, F f) { DoRegDelete(c.log, c.p.registry, c.p.codepage, f[1]); return true; }},
        {u"hostsadd",
         {{K::kHost, true, u"a host name"}, {K::kHost, true, u"an address"}},
         [](C c, F f) { DoHostsAdd(c.log, c.Hosts(), f[1], f[2]); return true; }},
        {u"hostsremove",
         {{K::kHost, true, u"a host name"}},
         [](C c, F f) { DoHostsRemove(c.log, c.Hosts(), f[1]); return true; }},
        {u"register",
         {{K::kLocalPath, true, u"the component's file"}},
         [](C c, F f) { DoRegister(c.log, c.p.process, c.fields.strWorkDir, f[1]); return true; }},
        {u"execute",
         {{K::kCommandLine, true, u"a command line"},
          {K::kWinStyle, true, u"a window style (without one the program starts hidden)"}},
         [](C c, F f) { DoExecute(c.log, c.p.files, c.p.process, c.fields, f[1], f[2]); return true; }},
        {u"keypress",
         {{K::kKeys, true, u"a key sequence"}, {K::kKeyWait, false, u""}},
         [](C c, F f) { DoKeyPress(c.log, c.p.process, f[1], NumericValue(f[2]) != 0.0); return true; }},
        // Beyond single precision the conversion fails the line rather than
        // waiting for ever.
        {u"wait",
         {{K::kSeconds, true, u"a number of seconds"}},
         [](C c, F f) { c.log.Wait(ToSingle(NumericValue(f[1]))); return true; }},
        {u"workpath",
         {{K::kLocalPath, true, u"a folder"}},
         [](C c, F f) { DoSetWorkPath(c.log, c.p.files, c.fields, f[1]); return true; }},
        {u"notice",
         {{K::kText, false, u""}},
         [](C c, F f) { c.p.ui.SetNotice(f[1]); return true; }},
        {u"message",
         {{K::kText, false, u""}},
         [](C c, F f) { c.log.Message(f[1]); return true; }},
        {u"alert",
         {{K::kText, true, u"a text to show"}},
         [](C c, F f) { c.p.ui.MsgBox(f[1], mb::kOkOnly, AppTitle()); return true; }},
        {u"msgbox",
         {{K::kText, true, u"a text to show"}, {K::kMsgStyle, false, u""}, {K::kText, false, u""}},
         [](C c, F f) { c.p.ui.MsgBox(f[1], RoundToLong(NumericValue(f[2])), f[3]); return true; }},
    };
    return kCommands;
}

const CommandSpec* LookUpCommand(const Text& field0) {
    const Text keyword = LowerAscii(field0);
    for (const CommandSpec& command : Commands()) {
        if (keyword == command.keyword) return &command;
    }
    return nullptr;
}

}  // namespace qx
