// Script actions on the hosts file, and the line rules they rewrite it by.
//
// Lines are kept as the raw bytes read, so whatever the file holds besides
// the entries being changed (comments in any code page included) is written
// back byte for byte. Each line is decoded through the ANSI code page only
// to decide its fate.
#pragma once

#include <vector>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/progress.h"

namespace qx {

// The lines of a file without their line ends. A line ends at CR LF, at a
// lone CR or at a lone LF; a line break at the very end adds no empty line.
std::vector<Bytes> SplitHostsLines(const Bytes& content);

// The address and host names of a line: its blank-separated fields before
// any "#". A comment line or a blank line has neither.
struct HostsFields {
    Text address;
    std::vector<Text> names;
};
HostsFields ParseHostsLine(const Text& line);

// The line with every TAB read as a space, up to its first space: empty for
// a line that starts with a blank.
Text HostsLeadingWord(const Text& line);

// A name the resolver could find in a line: not empty and free of blanks
// and "#". Any other name leaves the file as it is.
bool IsUsableHostName(const Text& name);

// True when name is one of the line's host names, letter case of ASCII
// letters ignored as the resolver does.
bool HostsLineNamesHost(const Text& line, const Text& name);

// True when the line maps name to exactly this address.
bool HostsEntryPresent(const Text& line, const Text& name, const Text& address);

enum class HostsLineFate { kKeep, kCommentOut, kDrop };

// What the removal does with one line: a line naming the host is dropped
// when no address is given or its leading word is that address, and
// commented out when it maps the host elsewhere.
HostsLineFate RemovalFate(const Text& line, const Text& name, const Text& address);

// The whole new file after removing name (see RemovalFate); every line ends
// in CR LF.
Bytes RewriteHostsForRemoval(const Bytes& content, const ICodePage& codepage, const Text& name,
                             const Text& address);

// False when the file already holds the entry, so nothing needs writing;
// otherwise newContent is every line followed by the entry "address TAB
// name", each ending in CR LF.
bool RewriteHostsForAdd(const Bytes& content, const ICodePage& codepage, const Text& name,
                        const Text& address, Bytes& newContent);

// The hosts file and what rewriting it takes: a side file goes beside it,
// or into strTempDir where its folder takes no new files, under a random
// name.
struct HostsAccess {
    IFileSystem& files;
    const ICodePage& codepage;
    IRandom& random;
    const Text& strHostsFile;
    const Text& strTempDir;
};

// Rewrite the hosts file. Every failure is silent and leaves the file as
// it was; a file that does not exist is never created.
void RemoveHostsEntry(const HostsAccess& hosts, const Text& strDNS, const Text& strIP);
void AddHostsEntry(const HostsAccess& hosts, const Text& strDNS, const Text& strIP);

void DoHostsAdd(IProgressLog& log, const HostsAccess& hosts, const Text& strDNS, const Text& strIP);
void DoHostsRemove(IProgressLog& log, const HostsAccess& hosts, const Text& strDNS);

}  // namespace qx
