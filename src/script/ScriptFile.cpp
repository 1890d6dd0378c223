#include "script/ScriptFile.h"

namespace qx {

std::vector<Text> SplitScriptLines(const Text& content) {
    std::vector<Text> lines;
    Text current;
    bool pending = false;  // characters since the last line break
    for (size_t i = 0; i < content.size(); ++i) {
        const char16_t c = content[i];
        if (c == u'\r') {
            lines.push_back(current);
            current.clear();
            pending = false;
            if (i + 1 < content.size() && content[i + 1] == u'\n') ++i;
        } else {
            current.push_back(c);
            pending = true;
        }
    }
    if (pending) lines.push_back(current);
    return lines;
}

}  // namespace qx
