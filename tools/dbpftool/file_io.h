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

// Several threads may call WriteFileAtomically at once; each write's temporary file is known
// to the signal handlers.

// From now on the first termination signal is only noted (Interrupted() turns true), so that a
// command that writes many files can stop and remove them in order before it ends with
// DieIfInterrupted(); a second signal ends the process at once, removing the temporary files of
// the writes in progress.
void DeferInterruptions();
bool Interrupted();
// Ends the process with the noted signal, if there is one.
void DieIfInterrupted();

// A file written at any offsets that appears under its name only when committed: the bytes go
// to a temporary file in the same directory (removed by the signal handlers and by Discard or
// the destructor), which Commit renames over the path.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    bool Create(const std::string& path, std::string& error);
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size, std::string& error);
    // Closes the temporary file (it keeps its temporary name; on failure it is removed).
    bool Close(std::string& error);
    // Closes the temporary file if still open and renames it over the path; on failure it is
    // removed.
    bool Commit(std::string& error);
    void Discard();
    const std::string& TemporaryPath() const { return tmp_; }

private:
    std::string path_;
    std::string tmp_;
    int slot_ = -1;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// True when standard error is a terminal (progress output is shown only there).
bool StderrIsTerminal();

} // namespace dbpftool
