// Helpers shared by the unit tests: a temporary directory removed with its contents, files
// written in one call, a TZ setting for the lifetime of a scope, a read error provoked under a
// stdio stream, a check of exceptions thrown as pointers, and a record of the message boxes a
// test executable's hook is shown. Header-only; the same code serves the native build and the
// Windows builds.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace dbpf_test {

inline long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
}

// Writes bytes to path, replacing any file there. A file that cannot be opened or written is a
// (non-fatal) test failure, and the result is false.
inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr) << path;
    if (f == nullptr)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    EXPECT_TRUE(ok) << "cannot write " << path;
    return ok;
}

// A name in GoogleTest's temporary directory (whose text ends with a separator).
inline std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + name;
}

// Writes bytes to TempPath(name) and returns that path.
inline std::string WriteTempFile(const std::string& name, const std::string& bytes) {
    std::string path = TempPath(name);
    WriteBytes(path, bytes);
    return path;
}

// A directory of its own under the system's temporary directory, removed with everything in it
// when the object goes. The name holds the process id and a counter, so that test processes
// running side by side never share one.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "dbpf_test_") {
        static std::atomic<int> counter{0};
        m_path = std::filesystem::temp_directory_path() /
                 (prefix + std::to_string(ProcessId()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The path of name in the directory (of the directory itself without a name), as the
    // platform's functions take it.
    std::string Text(const std::string& name = "") const {
        return (name.empty() ? m_path : m_path / name).string();
    }
    // Writes a file name in the directory and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::string path = Text(name);
        WriteBytes(path, bytes);
        return path;
    }

private:
    std::filesystem::path m_path;
};

// Sets TZ for the lifetime of the object and restores the earlier value (or its absence).
class ScopedTz {
public:
    explicit ScopedTz(const char* tz) {
        const char* old = std::getenv("TZ");
        m_hadOld = old != nullptr;
        if (old)
            m_old = old;
        Set(tz);
    }
    ~ScopedTz() { Set(m_hadOld ? m_old.c_str() : nullptr); }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

private:
    static void Set(const char* tz) {
#ifdef _WIN32
        _putenv_s("TZ", tz ? tz : "");
        _tzset();
#else
        if (tz)
            setenv("TZ", tz, 1);
        else
            unsetenv("TZ");
        tzset();
#endif
    }
    bool m_hadOld = false;
    std::string m_old;
};

// Takes the operating system's file away from under a stdio stream, so that the next refill of
// its buffer fails with a read error. The stream itself stays open, for its owner to close.
inline void PullTheRug(std::FILE* stream) {
#ifdef _WIN32
    CloseHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
#else
    ::close(fileno(stream));
#endif
}

// Runs f and reports whether it threw a pointer to Wanted. The class library throws its
// exceptions as pointers to heap objects that free themselves with Delete(): the one caught here
// is freed, and any other pointer to Base counts as false (and is freed too).
template <class Wanted, class Base, class F> bool ThrowsPointer(F f) {
    try {
        f();
    } catch (Wanted* e) {
        e->Delete();
        return true;
    } catch (Base* e) {
        e->Delete();
        return false;
    }
    return false;
}

// The message boxes a test executable's AfxMessageBoxHook has been shown: the hook calls
// Record with the text and the answer the test wants the box to give.
struct MessageBoxLog {
    int count = 0;
    std::string text; // of the latest box

    int Record(const char* boxText, int answer) {
        ++count;
        text = boxText != nullptr ? boxText : "";
        return answer;
    }
};

} // namespace dbpf_test
