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
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string& error);

// True when standard error is a terminal (progress output is shown only there).
bool StderrIsTerminal();

} // namespace dbpftool
