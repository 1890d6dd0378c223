#include "script/ProcessLine.h"

#include "actions/FileActions.h"
#include "actions/HostsFile.h"
#include "actions/ProgramActions.h"
#include "actions/Registry.h"
#include "config/VersionCheck.h"
#include "config/WorkPath.h"
#include "download/DownloadCommands.h"
#include "script/NumericValue.h"
#include "script/Paths.h"

namespace qx {

namespace {

// Keywords are plain ASCII words, so ASCII folding is all the comparison
// needs; other characters keep their case and never match.
Text LowerAscii(Text s) {
    for (char16_t& c : s) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return s;
}

}  // namespace

std::array<Text, 6> CutFields(const Text& strLine) {
    std::array<Text, 6> fields;
    if (strLine.empty()) return fields;
    size_t index = 0;
    size_t start = 0;
    while (index < fields.size()) {
        const size_t comma = strLine.find(u',', start);
        fields[index++] = strLine.substr(start, comma == Text::npos ? Text::npos : comma - start);
        if (comma == Text::npos) break;
        start = comma + 1;
    }
    return fields;
}

bool CopyOverwrites(const Text& field3) { return !(field3 == u"0" || LowerAscii(field3) == u"false"); }

const std::array<const char16_t*, kCommandCount>& CommandKeywords() {
    static const std::array<const char16_t*, kCommandCount> kKeywords = {
        u"ver",      u"down",      u"checkwritable", u"create",      u"update",
        u"copy",     u"delete",    u"regwrite",      u"regdelete",   u"hostsadd",
        u"hostsremove", u"register", u"execute",     u"keypress",    u"wait",
        u"workpath", u"notice",    u"message",       u"alert",       u"msgbox",
    };
    return kKeywords;
}

Command LookUpCommand(const Text& field0) {
    const Text keyword = LowerAscii(field0);
    const auto& keywords = CommandKeywords();
    for (size_t i = 0; i < keywords.size(); ++i) {
        if (keyword == keywords[i]) return static_cast<Command>(i);
    }
    return Command::kNone;
}

bool ProcessLine(FrmUpdate& form, const Text& strLine) {
    bool result = true;
    const std::array<Text, 6> f = CutFields(ReplaceCommonPath(form, strLine));

    switch (LookUpCommand(f[0])) {
        case Command::kVer:
            DoCheckVersion(form, f[1], f[2]);
            break;
        case Command::kDown:
            DoDown(form, f[1], f[2]);
            break;
        case Command::kCheckWritable:
            result = DoCheckWritable(form, f[1]);
            break;
        case Command::kCreate:
            DoCreate(form, f[1], f[2]);
            break;
        case Command::kUpdate:
            DoUpdate(form, f[1], f[2]);
            break;
        case Command::kCopy:
            DoCopy(form, f[1], f[2], CopyOverwrites(f[3]));
            break;
        case Command::kDelete:
            DoDelete(form, f[1]);
            break;
        case Command::kRegWrite:
            DoRegWrite(form, f[1], f[2]);
            break;
        case Command::kRegDelete:
            DoRegDelete(form, f[1]);
            break;
        case Command::kHostsAdd:
            DoHostsAdd(form, f[1], f[2]);
            break;
        case Command::kHostsRemove:
            DoHostsRemove(form, f[1]);
            break;
        case Command::kRegister:
            DoRegister(form, f[1]);
            break;
        case Command::kExecute:
            DoExecute(form, f[1], f[2]);
            break;
        case Command::kKeyPress:
            DoKeyPress(form, f[1], NumericValue(f[2]) != 0.0);
            break;
        case Command::kWait:
            // Beyond single precision the conversion fails the line rather than
            // waiting for ever.
            form.Wait(ToSingle(NumericValue(f[1])));
            break;
        case Command::kWorkPath:
            DoSetWorkPath(form, f[1]);
            break;
        case Command::kNotice:
            form.platform().ui.SetNotice(f[1]);
            break;
        case Command::kMessage:
            form.Message(f[1]);
            break;
        case Command::kAlert:
            form.platform().ui.MsgBox(f[1], mb::kOkOnly, FrmUpdate::AppTitle());
            break;
        case Command::kMsgBox:
            form.platform().ui.MsgBox(f[1], RoundToLong(NumericValue(f[2])), f[3]);
            break;
        case Command::kNone:
            break;
    }
    return result;
}

}  // namespace qx
