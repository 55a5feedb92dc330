// Names, error texts, entry file names and the parallel loop shared by the reader, the writer
// and the package commands.
#include "dbpf_package.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

namespace dbpf {

bool operator==(const EntryKey& a, const EntryKey& b) {
    return a.type == b.type && a.group == b.group && a.instance == b.instance &&
           a.hasResource == b.hasResource && (!a.hasResource || a.resource == b.resource);
}

bool Entry::IsDirectory() const {
    return directory;
}

const char* CompressionName(Compression c) {
    switch (c) {
    case Compression::kNone:
        return "none";
    case Compression::kEntry:
        return "entry";
    case Compression::kZlib:
        return "zlib";
    case Compression::kDeleted:
        return "deleted";
    case Compression::kUnknown:
        break;
    }
    return "unknown";
}

const char* ErrorCodeText(ErrorCode code) {
    switch (code) {
    case ErrorCode::kOk:
        return "ok";
    case ErrorCode::kOpenFailed:
        return "cannot open";
    case ErrorCode::kWriteFailed:
        return "cannot write";
    case ErrorCode::kNotDbpf:
        return "not a DBPF package";
    case ErrorCode::kUnsupportedVersion:
        return "unsupported package version";
    case ErrorCode::kBadIndex:
        return "damaged index";
    case ErrorCode::kEntryOutOfRange:
        return "entry lies outside the file";
    case ErrorCode::kDeletedEntry:
        return "entry is deleted";
    case ErrorCode::kBadDirectory:
        return "damaged directory record";
    case ErrorCode::kSizeMismatch:
        return "sizes disagree";
    case ErrorCode::kCorruptEntry:
        return "compressed entry is damaged";
    case ErrorCode::kUnsupported:
        return "not supported";
    case ErrorCode::kIndexOutOfRange:
        return "no such entry";
    case ErrorCode::kBufferSize:
        return "buffer is not the entry's size";
    case ErrorCode::kInvalidEntry:
        return "entry refused";
    case ErrorCode::kSourceFailed:
        return "cannot load entry";
    case ErrorCode::kCompressFailed:
        return "compressor failed";
    }
    return "unknown error";
}

std::string KeyText(const EntryKey& key) {
    char text[64];
    if (key.hasResource) {
        std::snprintf(text, sizeof text, "%08X-%08X-%08X%08X-%08X", key.type, key.group,
                      static_cast<unsigned>(key.instance >> 32),
                      static_cast<unsigned>(key.instance & 0xFFFFFFFFu), key.resource);
    } else {
        std::snprintf(text, sizeof text, "%08X-%08X-%08X%08X", key.type, key.group,
                      static_cast<unsigned>(key.instance >> 32),
                      static_cast<unsigned>(key.instance & 0xFFFFFFFFu));
    }
    return text;
}

std::string EntryFileName(const EntryKey& key) {
    return KeyText(key) + ".bin";
}

namespace {

// Exactly `digits` hex digits at s[at...].
bool ParseHex(const std::string& s, std::size_t at, std::size_t digits, std::uint64_t* value) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < digits; ++k) {
        const char c = s[at + k];
        unsigned d;
        if (c >= '0' && c <= '9') {
            d = static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            d = static_cast<unsigned>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            d = static_cast<unsigned>(c - 'a' + 10);
        } else {
            return false;
        }
        v = v << 4 | d;
    }
    *value = v;
    return true;
}

} // namespace

bool ParseEntryFileName(const std::string& name, EntryKey* key) {
    // TTTTTTTT-GGGGGGGG-IIIIIIIIIIIIIIII.bin is 38 characters; with -RRRRRRRR 47.
    const bool withResource = name.size() == 47;
    if (name.size() != 38 && !withResource) {
        return false;
    }
    if (name.compare(name.size() - 4, 4, ".bin") != 0 || name[8] != '-' || name[17] != '-' ||
        (withResource && name[34] != '-')) {
        return false;
    }
    std::uint64_t t, g, i, r = 0;
    if (!ParseHex(name, 0, 8, &t) || !ParseHex(name, 9, 8, &g) || !ParseHex(name, 18, 16, &i) ||
        (withResource && !ParseHex(name, 35, 8, &r))) {
        return false;
    }
    EntryKey k(static_cast<std::uint32_t>(t), static_cast<std::uint32_t>(g), i);
    if (withResource) {
        k.hasResource = true;
        k.resource = static_cast<std::uint32_t>(r);
    }
    *key = k;
    return true;
}

std::string Error::Describe() const {
    std::string text;
    if (entry != kNoEntry) {
        text = "entry " + std::to_string(entry) + " (" + KeyText(key) + "): ";
    }
    text += ErrorCodeText(code);
    if (!detail.empty()) {
        text += ": " + detail;
    }
    return text;
}

Error ParallelFor(std::size_t count, unsigned jobs,
                  const std::function<Error(std::size_t i, unsigned worker)>& fn) {
    if (jobs <= 1 || count <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            Error e = fn(i, 0);
            if (!e.ok()) {
                return e;
            }
        }
        return Error{};
    }
    if (jobs > count) {
        jobs = static_cast<unsigned>(count);
    }
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex lock;
    Error first;
    std::size_t firstAt = kNoEntry;
    std::exception_ptr thrown;

    auto work = [&](unsigned worker) {
        try {
            for (;;) {
                if (stop.load(std::memory_order_relaxed)) {
                    return;
                }
                const std::size_t i = next.fetch_add(1);
                if (i >= count) {
                    return;
                }
                Error e = fn(i, worker);
                if (!e.ok()) {
                    std::lock_guard<std::mutex> guard(lock);
                    if (firstAt == kNoEntry || i < firstAt) {
                        firstAt = i;
                        first = std::move(e);
                    }
                    stop = true;
                }
            }
        } catch (...) {
            std::lock_guard<std::mutex> guard(lock);
            if (!thrown) {
                thrown = std::current_exception();
            }
            stop = true;
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(jobs - 1);
    for (unsigned w = 1; w < jobs; ++w) {
        threads.emplace_back(work, w);
    }
    work(0);
    for (std::thread& t : threads) {
        t.join();
    }
    if (thrown) {
        std::rethrow_exception(thrown);
    }
    return first;
}

} // namespace dbpf
