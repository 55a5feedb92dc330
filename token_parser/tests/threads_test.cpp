// Parsers on several threads at once: each thread's scans find what a scan on its own finds.
// Each scan builds its own automaton, so the threads share nothing; run under ThreadSanitizer too
// (label "threads"), which reports any state of the library they do touch together.
#include <talmoor.h>

#include <dbpf_test_support.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

thread_local std::vector<long long> t_found; // end offsets of this thread's completions

void Found(CStdioFile* pFile) {
    t_found.push_back(pFile != nullptr ? static_cast<long long>(pFile->GetPosition()) : -1);
}

// Tokens and text of one thread: words that start and advance on most bytes.
const char* const kWords[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta"};

std::string Text(int seed) {
    std::string text;
    unsigned x = 12345u + static_cast<unsigned>(seed);
    for (int i = 0; i < 20000; ++i) {
        x = x * 1103515245u + 12345u;
        text += kWords[(x >> 16) % 7];
        text += (x >> 8) % 9 == 0 ? "\r\n" : " ";
    }
    return text;
}

std::vector<long long> Scan(const std::string& path, int tokens) {
    t_found.clear();
    CParser parser;
    for (int i = 0; i < tokens; ++i)
        parser.Add(i + 1, kWords[i], Found);
    // Twice: the second scan builds its automaton anew and must find the same.
    parser.ParseFile(path.c_str());
    parser.ParseFile(path.c_str());
    return t_found;
}

TEST(ParserThreads, ConcurrentScansFindWhatSerialScansFind) {
    dbpf_test::TempDir dir("talmoor_threads_");
    constexpr int kThreads = 4;
    std::vector<std::string> paths;
    std::vector<std::vector<long long>> expected;
    for (int t = 0; t < kThreads; ++t) {
        paths.push_back(dir.Write("text" + std::to_string(t) + ".txt", Text(t)));
        expected.push_back(Scan(paths.back(), 3 + t));
        ASSERT_FALSE(expected.back().empty());
    }
    std::vector<std::vector<std::vector<long long>>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &paths, &got] {
            for (int round = 0; round < 5; ++round)
                got[static_cast<std::size_t>(t)].push_back(
                    Scan(paths[static_cast<std::size_t>(t)], 3 + t));
        });
    }
    for (std::thread& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t) {
        for (const std::vector<long long>& found : got[static_cast<std::size_t>(t)])
            EXPECT_EQ(found, expected[static_cast<std::size_t>(t)]) << "thread " << t;
    }
}

} // namespace
