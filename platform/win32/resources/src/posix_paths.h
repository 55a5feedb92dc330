// Windows-style paths given to the stand-ins, turned into POSIX paths.
#pragma once

#include <string>

namespace dbpf {
namespace posix {

// Backslashes become slashes; "Z:" (either case) is the root; a path without a drive is used
// as it is. Other drive letters and UNC paths ("\\server\share") do not exist: false.
bool ToPosixPath(const char* path, std::string* out);

} // namespace posix
} // namespace dbpf
