// Where a file reference of a down, create, update or ver line is fetched
// from. The download commands and the script checker both ask here, so they
// cannot disagree about which file a line means.
#pragma once

#include "platform/core_types.h"

namespace qx {

// A bare file name lives in the server's update folder; anything with a "/"
// is already a server path or a URL.
Text ServerReference(const Text& reference);

// A colon in the first seven characters is a scheme to the download engine:
// the URL goes out as it stands, to some other server.
bool HasScheme(const Text& url);

// The path below the server root that a reference fetches ("setup.exe?v=3"
// -> "/qxupdate/setup.exe", backslashes turned into slashes); empty for a
// URL with a scheme, which is not on this server.
Text ServerPathOf(const Text& reference);

}  // namespace qx
