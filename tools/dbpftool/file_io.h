// File helpers shared by the subcommands of dbpftool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dbpftool {

// Reads the whole file at `path` ("-" is standard input) into `out`. On failure returns false
// and puts a short reason ("No such file or directory", "file too large") into `error`.
// Files longer than `max_size` bytes are refused without being read whole.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out, std::string& error,
                   std::uint64_t max_size = UINT64_MAX);

// Writes `size` bytes to `path` so that the file appears complete or not at all: the bytes go
// to a temporary file in the same directory, which is then renamed over `path`. On failure the
// temporary file is removed, `path` is left as it was, and `error` holds a reason.
//
// On Linux the temporary file has no name while it is written (O_TMPFILE); it gets one, of the
// form ".dbpftool-<pid>-<n>.tmp", only for the two calls that link it in and rename it over
// `path`. Elsewhere it carries that name from the start. A process killed outright (SIGKILL,
// power loss) can leave such a file behind; it is never `path` itself, and the next write into
// the same directory removes those whose process has ended.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string& error);

// Installs handlers for the termination signals (SIGINT, SIGTERM and, on POSIX, SIGHUP) that
// remove the temporary file of a write in progress before the process ends with that signal,
// and makes a write beyond the file-size limit fail (EFBIG) instead of killing the process.
// Call once at start, before any write.
void RemoveTemporaryFilesOnSignals();

// True when standard error is a terminal (progress output is shown only there).
bool StderrIsTerminal();

} // namespace dbpftool
