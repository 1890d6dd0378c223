#include "script/CommandTable.h"

#include "actions/FileActions.h"
#include "actions/HostsFile.h"
#include "actions/ProgramActions.h"
#include "actions/Registry.h"
#include "app/frmUpdate.h"
#include "config/VersionCheck.h"
#include "config/WorkPath.h"
#include "download/TextUtils.h"
#include "download/DownloadCommands.h"
#include "script/NumericValue.h"
#include "script/ProcessLine.h"

namespace qx {

namespace {

using K = FieldKind;
using F = const LineFields&;

}  // namespace

const std::vector<CommandSpec>& Commands() {
    static const std::vector<CommandSpec> kCommands = {
        {u"ver",
         {{K::kServerFile, true, u"the new updater's file on the server"}, {K::kVersion, true, u"the version number"}},
         [](FrmUpdate& form, F f) { DoCheckVersion(form, f[1], f[2]); return true; },
         true},
        {u"down",
         {{K::kServerFile, true, u"a file on the server"}, {K::kLocalPath, false, u""}},
         [](FrmUpdate& form, F f) { DoDown(form, f[1], f[2]); return true; }},
        // A file in use stops the session.
        {u"checkwritable",
         {{K::kLocalPath, true, u"the file to test"}},
         [](FrmUpdate& form, F f) { return DoCheckWritable(form, f[1]); }},
        {u"create",
         {{K::kServerFile, true, u"a file on the server"}, {K::kLocalPath, false, u""}},
         [](FrmUpdate& form, F f) { DoCreate(form, f[1], f[2]); return true; }},
        {u"update",
         {{K::kServerFile, true, u"a file on the server"}, {K::kLocalPath, false, u""}},
         [](FrmUpdate& form, F f) { DoUpdate(form, f[1], f[2]); return true; }},
        {u"copy",
         {{K::kPattern, true, u"the file to copy"}, {K::kPattern, false, u""}, {K::kCopyFlag, false, u""}},
         [](FrmUpdate& form, F f) { DoCopy(form, f[1], f[2], CopyOverwrites(f[3])); return true; }},
        {u"delete",
         {{K::kPattern, true, u"the file to delete"}},
         [](FrmUpdate& form, F f) { DoDelete(form, f[1]); return true; }},
        {u"regwrite",
         {{K::kRegKey, true, u"a registry path"}, {K::kRegValue, false, u""}},
         [](FrmUpdate& form, F f) { DoRegWrite(form, f[1], f[2]); return true; }},
        {u"regdelete",
         {{K::kRegKeyDelete, true, u"a registry path"}},
         [](FrmUpdate& form, F f) { DoRegDelete(form, f[1]); return true; }},
        {u"hostsadd",
         {{K::kHost, true, u"a host name"}, {K::kHost, true, u"an address"}},
         [](FrmUpdate& form, F f) { DoHostsAdd(form, f[1], f[2]); return true; }},
        {u"hostsremove",
         {{K::kHost, true, u"a host name"}},
         [](FrmUpdate& form, F f) { DoHostsRemove(form, f[1]); return true; }},
        {u"register",
         {{K::kLocalPath, true, u"the component's file"}},
         [](FrmUpdate& form, F f) { DoRegister(form, f[1]); return true; }},
        {u"execute",
         {{K::kCommandLine, true, u"a command line"},
          {K::kWinStyle, true, u"a window style (without one the program starts hidden)"}},
         [](FrmUpdate& form, F f) { DoExecute(form, f[1], f[2]); return true; }},
        {u"keypress",
         {{K::kKeys, true, u"a key sequence"}, {K::kKeyWait, false, u""}},
         [](FrmUpdate& form, F f) { DoKeyPress(form, f[1], NumericValue(f[2]) != 0.0); return true; }},
        // Beyond single precision the conversion fails the line rather than
        // waiting for ever.
        {u"wait",
         {{K::kSeconds, true, u"a number of seconds"}},
         [](FrmUpdate& form, F f) { form.Wait(ToSingle(NumericValue(f[1]))); return true; }},
        {u"workpath",
         {{K::kLocalPath, true, u"a folder"}},
         [](FrmUpdate& form, F f) { DoSetWorkPath(form, f[1]); return true; }},
        {u"notice",
         {{K::kText, false, u""}},
         [](FrmUpdate& form, F f) { form.platform().ui.SetNotice(f[1]); return true; }},
        {u"message",
         {{K::kText, false, u""}},
         [](FrmUpdate& form, F f) { form.Message(f[1]); return true; }},
        {u"alert",
         {{K::kText, true, u"a text to show"}},
         [](FrmUpdate& form, F f) { form.platform().ui.MsgBox(f[1], mb::kOkOnly, FrmUpdate::AppTitle()); return true; }},
        {u"msgbox",
         {{K::kText, true, u"a text to show"}, {K::kMsgStyle, false, u""}, {K::kText, false, u""}},
         [](FrmUpdate& form, F f) { form.platform().ui.MsgBox(f[1], RoundToLong(NumericValue(f[2])), f[3]); return true; }},
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
