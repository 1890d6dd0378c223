#include "download/ServerPath.h"

#include <algorithm>

namespace qx {

Text ServerReference(const Text& reference) {
    return reference.find(u'/') == Text::npos ? u"/qxupdate/" + reference : reference;
}

bool HasScheme(const Text& url) { return url.substr(0, 7).find(u':') != Text::npos; }

Text ServerPathOf(const Text& reference) {
    Text path = ServerReference(reference);
    path = path.substr(0, path.find(u'?'));
    if (HasScheme(path)) return Text();
    std::replace(path.begin(), path.end(), u'\\', u'/');
    return path;
}

}  // namespace qx
