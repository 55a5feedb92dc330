// Windows paths, as the POSIX stand-ins of the Windows services receive them, turned into POSIX
// paths. Every stand-in that takes a file name (the file class, the module and version
// functions, the file-system functions) maps it here, so that one name means one file
// everywhere:
//
//   - backslashes become slashes;
//   - a path without drive is used as it is: "\home\u\x.txt" is "/home/u/x.txt", "rel\x" is
//     relative to the working directory;
//   - the drive "Z:" (either case) is the POSIX root, as Wine maps it: "Z:\home" is "/home".
//     A drive-relative "Z:notes.txt" names notes.txt in the current directory of drive Z:,
//     which for a program started from a POSIX shell under Wine is the working directory:
//     "notes.txt". "Z:" alone is that directory: ".";
//   - every other drive letter does not exist, nor do network paths ("\\server\share", also
//     spelled with slashes) and the device namespaces ("\\.\", "\\?\"): refused;
//   - "." and ".." components and trailing separators are left to the file system.
//
// Only an ASCII letter followed by a colon is a drive; "1:x" is an ordinary relative name.
//
//   "Z:\home\u\x.txt"  => "/home/u/x.txt"     "\home\u\"      => "/home/u/"
//   "z:/tmp/../x"      => "/tmp/../x"         "Z:notes.txt"   => "notes.txt"
//   "rel\x.txt"        => "rel/x.txt"         "Z:"            => "."
//   "C:\x"  "\\srv\share\f"  "//srv/share"  "\\?\Z:\x"  ""  => refused
//
// Pure text: built and tested on every target; only the POSIX stand-ins call it.
#pragma once

#include <string>

namespace dbpf {
namespace posix {

// The POSIX path for path into *out. Returns false, leaving *out unchanged, for a null or empty
// path, a drive other than Z:, a network path or a device path.
bool ToPosixPath(const char* path, std::string* out);

} // namespace posix
} // namespace dbpf
