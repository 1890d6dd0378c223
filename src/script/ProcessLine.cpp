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

bool IsNoOverwrite(const Text& field) { return field == u"0" || LowerAscii(field) == u"false"; }

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

bool ProcessLine(FrmUpdate& form, const Text& strLine) {
    bool result = true;
    const std::array<Text, 6> f = CutFields(ReplaceCommonPath(form, strLine));
    const Text keyword = LowerAscii(f[0]);

    if (keyword == u"ver") {
        DoCheckVersion(form, f[1], f[2]);
    } else if (keyword == u"down") {
        DoDown(form, f[1], f[2]);
    } else if (keyword == u"checkwritable") {
        result = DoCheckWritable(form, f[1]);
    } else if (keyword == u"create") {
        DoCreate(form, f[1], f[2]);
    } else if (keyword == u"update") {
        DoUpdate(form, f[1], f[2]);
    } else if (keyword == u"copy") {
        DoCopy(form, f[1], f[2], !IsNoOverwrite(f[3]));
    } else if (keyword == u"delete") {
        DoDelete(form, f[1]);
    } else if (keyword == u"regwrite") {
        DoRegWrite(form, f[1], f[2]);
    } else if (keyword == u"regdelete") {
        DoRegDelete(form, f[1]);
    } else if (keyword == u"hostsadd") {
        DoHostsAdd(form, f[1], f[2]);
    } else if (keyword == u"hostsremove") {
        DoHostsRemove(form, f[1]);
    } else if (keyword == u"register") {
        DoRegister(form, f[1]);
    } else if (keyword == u"execute") {
        DoExecute(form, f[1], f[2]);
    } else if (keyword == u"keypress") {
        DoKeyPress(form, f[1], NumericValue(f[2]) != 0.0);
    } else if (keyword == u"wait") {
        // Beyond single precision the conversion fails the line rather than
        // waiting for ever.
        form.Wait(ToSingle(NumericValue(f[1])));
    } else if (keyword == u"workpath") {
        DoSetWorkPath(form, f[1]);
    } else if (keyword == u"notice") {
        form.platform().ui.SetNotice(f[1]);
    } else if (keyword == u"message") {
        form.Message(f[1]);
    } else if (keyword == u"alert") {
        form.platform().ui.MsgBox(f[1], mb::kOkOnly, FrmUpdate::AppTitle());
    } else if (keyword == u"msgbox") {
        form.platform().ui.MsgBox(f[1], RoundToLong(NumericValue(f[2])), f[3]);
    }
    return result;
}

}  // namespace qx
