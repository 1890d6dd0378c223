#include "script/ProcessLine.h"

#include "download/TextUtils.h"
#include "script/CommandTable.h"
#include "script/Paths.h"

namespace qx {

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

bool ProcessLine(const ScriptContext& c, const Text& strLine) {
    const std::array<Text, 6> f = CutFields(ReplaceCommonPath(c.fields, strLine));
    const CommandSpec* command = LookUpCommand(f[0]);
    return command == nullptr || command->action(c, f);
}

}  // namespace qx
