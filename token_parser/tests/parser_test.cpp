// CParser: registration, recognition, handlers, file scans, and handlers that call back into
// their parser.
#include <talmoor.h>

#include <dbpf_test_support.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

dbpf_test::MessageBoxLog g_box;

} // namespace

// The parser's message boxes come here (the library finds it in this executable).
extern "C" AFX_CLIENT_EXPORT int AfxMessageBoxHook(const char* lpszText, UINT, UINT) {
    return g_box.Record(lpszText, IDOK);
}

namespace {

struct Call {
    int id;
    bool withFile;
    bool operator==(const Call& o) const { return id == o.id && withFile == o.withFile; }
};
std::vector<Call> g_calls;

// Handler of the token with identifier ID: records the call.
template <int ID> void Record(CStdioFile* pFile) {
    g_calls.push_back({ID, pFile != nullptr});
}

// Handler that reads the rest of the line, hiding it from the scan.
template <int ID> void RecordAndSkipLine(CStdioFile* pFile) {
    Record<ID>(pFile);
    CString rest;
    if (pFile != nullptr)
        pFile->ReadString(rest);
}

std::string WriteTemp(const std::string& name, const std::string& bytes) {
    return dbpf_test::WriteTempFile("talmoor_test_" + name, bytes);
}

std::string Feed(CParser& parser, const std::string& input) {
    std::string results;
    for (unsigned char ch : input)
        results += std::to_string(parser.CheckForToken(ch)) + " ";
    return results;
}

class ParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        g_box.count = 0;
    }
};

// ---------------------------------------------------------------------------------------------
// Add

TEST_F(ParserTest, AddRefusesEmptyZeroTakenAndOverlapping) {
    struct Case {
        const char* name;
        int id;
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"id taken", 1, "x", 0},
        {"inside existing", 2, "bc", 0},
        {"contains existing", 2, "abcd", 0},
        {"equal text", 2, "abc", 0},
        {"id zero", 0, "q", 0},
        {"empty text", 2, "", 0},
        {"null text", 2, nullptr, 0},
        {"shares a prefix only", 2, "abd", 1},
        {"case differs", 3, "ABC", 1},
        {"negative id", -7, "neg", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_calls.clear();
        CParser parser;
        ASSERT_EQ(parser.Add(1, "abc", nullptr), 1);
        EXPECT_EQ(parser.Add(c.id, c.text, Record<2>), c.expected);
        // Feeding the text calls the new token's handler only if the token is there.
        int last = 0;
        for (const char* p = c.text; p != nullptr && *p != '\0'; ++p)
            last = parser.CheckForToken(static_cast<unsigned char>(*p));
        if (c.expected == 1) {
            EXPECT_EQ(last, c.id);
        }
        EXPECT_EQ(g_calls.size(), static_cast<size_t>(c.expected));
        parser.Reset();
        EXPECT_EQ(Feed(parser, "abc"), "0 0 1 ");
    }
}

TEST_F(ParserTest, AddChecksEveryRegisteredToken) {
    CParser parser;
    ASSERT_EQ(parser.Add(10, "first", nullptr), 1);
    ASSERT_EQ(parser.Add(20, "second", nullptr), 1);
    ASSERT_EQ(parser.Add(30, "third", nullptr), 1);
    EXPECT_EQ(parser.Add(10, "other", nullptr), 0);   // id of the first token
    EXPECT_EQ(parser.Add(40, "xfirstx", nullptr), 0); // overlaps the first token
    EXPECT_EQ(parser.Add(40, "ir", nullptr), 0);      // inside "first" and "third"
    EXPECT_EQ(parser.Add(40, "fourth", nullptr), 1);
}

// ---------------------------------------------------------------------------------------------
// CheckForToken

TEST_F(ParserTest, RecognitionFollowsThePrefixCounters) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::string>> tokens; // in registration order
        std::string input;
        const char* results;
    };
    const Case cases[] = {
        {"found after noise", {{1, "ab"}}, "xab", "0 0 1 "},
        {"broken match does not restart", {{1, "ab"}}, "aab", "0 0 0 "},
        {"completion clears others", {{1, "xy"}, {2, "yz"}}, "xyz", "0 1 0 "},
        {"same in the other order", {{2, "yz"}, {1, "xy"}}, "xyz", "0 1 0 "},
        {"overlapping occurrences", {{5, "aa"}}, "aaaa", "0 5 0 5 "},
        {"match across a completion", {{1, "abc"}, {2, "bcd"}}, "abcd", "0 0 1 0 "},
        {"high byte", {{7, "\xE9t"}}, "\xE9t\xC9t", "0 7 0 0 "},
        {"zero byte breaks", {{1, "ab"}}, std::string("a\0b\0ab", 6), "0 0 0 0 0 1 "},
        {"negative id", {{-3, "q"}}, "qq", "-3 -3 "},
        {"no tokens", {}, "abc", "0 0 0 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CParser parser;
        for (const auto& t : c.tokens)
            ASSERT_EQ(parser.Add(t.first, t.second.c_str(), nullptr), 1);
        EXPECT_EQ(Feed(parser, c.input), c.results);
    }
}

TEST_F(ParserTest, ResetDropsPartialMatches) {
    CParser parser;
    ASSERT_EQ(parser.Add(1, "abc", nullptr), 1);
    EXPECT_EQ(Feed(parser, "ab"), "0 0 ");
    parser.Reset();
    EXPECT_EQ(Feed(parser, "c"), "0 ");
    EXPECT_EQ(Feed(parser, "abc"), "0 0 1 ");
}

TEST_F(ParserTest, HandlerCalledOnceWithNullWhenFed) {
    CParser parser;
    ASSERT_EQ(parser.Add(1, "ab", Record<1>), 1);
    ASSERT_EQ(parser.Add(2, "cd", nullptr), 1);
    ASSERT_EQ(parser.Add(3, "ef", Record<3>), 1);
    EXPECT_EQ(Feed(parser, "abcdefab"), "0 1 0 2 0 3 0 1 ");
    const std::vector<Call> expected = {{1, false}, {3, false}, {1, false}};
    EXPECT_EQ(g_calls, expected);
}

// ---------------------------------------------------------------------------------------------
// ParseFile

TEST_F(ParserTest, ParseFileGivesHandlersTheOpenFile) {
    const std::string path = WriteTemp("scan", "ab xx cd\r\nab\n");
    CParser parser;
    ASSERT_EQ(parser.Add(1, "ab", Record<1>), 1);
    ASSERT_EQ(parser.Add(2, "cd", Record<2>), 1);
    EXPECT_EQ(parser.ParseFile(path.c_str()), 1);
    const std::vector<Call> expected = {{1, true}, {2, true}, {1, true}};
    EXPECT_EQ(g_calls, expected);
    // After the scan the file is closed again: fed characters give the handler null.
    g_calls.clear();
    Feed(parser, "ab");
    EXPECT_EQ(g_calls, (std::vector<Call>{{1, false}}));
    EXPECT_EQ(g_box.count, 0);
}

TEST_F(ParserTest, HandlerReadingTheLineHidesItsTokens) {
    const std::string path = WriteTemp("skip", "key ab ab\r\nab key\nab\n");
    CParser parser;
    ASSERT_EQ(parser.Add(1, "key", RecordAndSkipLine<1>), 1);
    ASSERT_EQ(parser.Add(2, "ab", Record<2>), 1);
    EXPECT_EQ(parser.ParseFile(path.c_str()), 1);
    const std::vector<Call> expected = {{1, true}, {2, true}, {1, true}, {2, true}};
    EXPECT_EQ(g_calls, expected);
}

TEST_F(ParserTest, TextModeShapesWhatTheScanSees) {
    struct Case {
        const char* name;
        std::string file;
        const char* token;
        size_t found;
    };
    const Case cases[] = {
        {"crlf never seen", "a\r\nb\r\n", "\r\n", 0},
        {"crlf seen as lf", "a\r\nb\r\n", "a\nb\n", 1},
        {"lone cr seen", "a\rb", "a\rb", 1},
        {"ctrl-z ends the scan",
         std::string("ab\x1a"
                     "ab",
                     5),
         "ab", 1},
        {"empty file", "", "ab", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_calls.clear();
        const std::string path = WriteTemp("text", c.file);
        CParser parser;
        ASSERT_EQ(parser.Add(1, c.token, Record<1>), 1);
        EXPECT_EQ(parser.ParseFile(path.c_str()), 1);
        EXPECT_EQ(g_calls.size(), c.found);
    }
}

TEST_F(ParserTest, PartialMatchesSurviveTheEndOfAScanButNotItsStart) {
    const std::string tail = WriteTemp("tail", "xxa");
    const std::string head = WriteTemp("head", "b");
    CParser parser;
    ASSERT_EQ(parser.Add(1, "ab", Record<1>), 1);
    EXPECT_EQ(parser.ParseFile(tail.c_str()), 1);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(parser.CheckForToken('b'), 1); // completes the "a" the file ended with
    EXPECT_EQ(g_calls, (std::vector<Call>{{1, false}}));

    EXPECT_EQ(parser.CheckForToken('a'), 0);
    EXPECT_EQ(parser.ParseFile(head.c_str()), 1); // the scan starts afresh
    EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(ParserTest, UnopenableFileShowsOneBoxAndKeepsProgress) {
    const std::string missing = dbpf_test::TempPath("talmoor_test_missing");
    std::remove(missing.c_str());
    CParser parser;
    ASSERT_EQ(parser.Add(1, "ab", Record<1>), 1);
    EXPECT_EQ(parser.CheckForToken('a'), 0);
    EXPECT_EQ(parser.ParseFile(missing.c_str()), 0);
    EXPECT_EQ(g_box.count, 1);
    EXPECT_NE(g_box.text.find(missing), std::string::npos) << g_box.text;
    EXPECT_GT(g_box.text.size(), missing.size() + 2) << g_box.text;
    EXPECT_EQ(parser.CheckForToken('b'), 1);
    EXPECT_EQ(parser.ParseFile(nullptr), 0);
    EXPECT_EQ(g_box.count, 2);
}

// A read error inside the library's scan reaches this executable as the platform's file
// exception (on Windows: thrown in the DLL, caught here), and the parser's file is closed.
void PullTheRug(CStdioFile* pFile) {
    dbpf_test::PullTheRug(pFile->m_pStream);
}

TEST_F(ParserTest, ReadErrorReachesTheCallerAndClosesTheFile) {
    const std::string big = WriteTemp("rug", "rug" + std::string(1 << 18, 'x'));
    const std::string small = WriteTemp("after_rug", "ab");
    CParser parser;
    ASSERT_EQ(parser.Add(1, "rug", PullTheRug), 1);
    ASSERT_EQ(parser.Add(2, "ab", Record<2>), 1);
    CFileException* caught = nullptr;
    try {
        parser.ParseFile(big.c_str());
    } catch (CFileException* e) {
        caught = e;
    }
    ASSERT_NE(caught, nullptr);
    EXPECT_EQ(caught->m_cause, CFileException::invalidFile);
    caught->Delete();
    // Closed: a fed completion passes null, and the next scan opens its file.
    Feed(parser, "ab");
    EXPECT_EQ(g_calls, (std::vector<Call>{{2, false}}));
    EXPECT_EQ(parser.ParseFile(small.c_str()), 1);
    EXPECT_EQ(g_calls.back(), (Call{2, true}));
    EXPECT_EQ(g_box.count, 0);
}

TEST_F(ParserTest, ReadErrorKeepsThePartialMatchOfTheBytesBeforeIt) {
    // The file is small enough for the stream's first fill, so after the rug is pulled "ab" is
    // still delivered and the error comes at the next fill: "abc" is then matched up to "ab",
    // and the caller's "c" completes it.
    const std::string path = WriteTemp("rug_partial", "rug ab");
    CParser parser;
    ASSERT_EQ(parser.Add(1, "rug", PullTheRug), 1);
    ASSERT_EQ(parser.Add(3, "abc", Record<3>), 1);
    EXPECT_TRUE((dbpf_test::ThrowsPointer<CFileException, CException>(
        [&parser, &path] { parser.ParseFile(path.c_str()); })));
    EXPECT_EQ(Feed(parser, "c"), "3 ");
}

void Throw(CStdioFile*) {
    throw 17;
}

TEST_F(ParserTest, HandlerExceptionPassesThroughWithCountersCleared) {
    const std::string path = WriteTemp("throw", "bom");
    CParser parser;
    ASSERT_EQ(parser.Add(2, "bok", Record<2>), 1);
    ASSERT_EQ(parser.Add(1, "om", Throw), 1);
    EXPECT_THROW(parser.ParseFile(path.c_str()), int);
    EXPECT_EQ(Feed(parser, "k"), "0 "); // "bo" was cleared by the completion of "om"
    // The file was closed on the way out, so the next scan opens it again (and throws again).
    EXPECT_THROW(parser.ParseFile(path.c_str()), int);
    EXPECT_EQ(g_box.count, 0);
}

// ---------------------------------------------------------------------------------------------
// Handlers that call back into their parser

CParser* g_parser = nullptr;
std::vector<int> g_nested;

void AddMany(CStdioFile*) {
    // Enough tokens to move the array's storage several times.
    for (int i = 0; i < 200; ++i) {
        std::string text = "z" + std::to_string(i) + "z";
        g_parser->Add(100 + i, text.c_str(), nullptr);
    }
}
void ResetInside(CStdioFile*) {
    g_parser->Reset();
}
void FeedInside(CStdioFile*) {
    for (char c : std::string("cd"))
        g_nested.push_back(g_parser->CheckForToken(static_cast<unsigned char>(c)));
}
void ScanInside(CStdioFile* pFile) {
    g_nested.push_back(g_parser->ParseFile(pFile->GetFilePath()));
}
void CloseInside(CStdioFile* pFile) {
    pFile->Close();
}

TEST_F(ParserTest, HandlerMayAddTokens) {
    CParser parser;
    g_parser = &parser;
    ASSERT_EQ(parser.Add(1, "ab", AddMany), 1);
    ASSERT_EQ(parser.Add(2, "cd", nullptr), 1);
    EXPECT_EQ(parser.CheckForToken('c'), 0);
    EXPECT_EQ(parser.CheckForToken('a'), 0);
    EXPECT_EQ(parser.CheckForToken('b'), 1); // read after the handler moved the storage
    EXPECT_EQ(Feed(parser, "z7zcdz199z"), "0 0 107 0 2 0 0 0 0 299 ");
    EXPECT_EQ(parser.Add(150, "fresh", nullptr), 0); // taken by the handler
}

TEST_F(ParserTest, HandlerMayResetAndFeed) {
    CParser parser;
    g_parser = &parser;
    ASSERT_EQ(parser.Add(1, "ab", ResetInside), 1);
    ASSERT_EQ(parser.Add(2, "cd", Record<2>), 1);
    ASSERT_EQ(parser.Add(3, "xy", FeedInside), 1);
    EXPECT_EQ(Feed(parser, "ab"), "0 1 ");
    // The nested feed sees cleared counters, completes "cd" and calls its handler; the outer
    // call still reports "xy".
    g_nested.clear();
    EXPECT_EQ(Feed(parser, "cxy"), "0 0 3 ");
    EXPECT_EQ(g_nested, (std::vector<int>{0, 2}));
    EXPECT_EQ(g_calls, (std::vector<Call>{{2, false}}));
}

TEST_F(ParserTest, HandlerMayScanOrCloseTheFile) {
    const std::string path = WriteTemp("nested", "go ab\nab stop ab\n");
    CParser parser;
    g_parser = &parser;
    ASSERT_EQ(parser.Add(1, "go", ScanInside), 1);
    ASSERT_EQ(parser.Add(2, "ab", Record<2>), 1);
    ASSERT_EQ(parser.Add(3, "stop", CloseInside), 1);
    g_nested.clear();
    EXPECT_EQ(parser.ParseFile(path.c_str()), 1);
    // The nested scan could not open the file in use (one box, result 0); the outer scan went
    // on until the handler of "stop" closed the file.
    EXPECT_EQ(g_nested, (std::vector<int>{0}));
    EXPECT_EQ(g_box.count, 1);
    EXPECT_EQ(g_calls, (std::vector<Call>{{2, true}, {2, true}}));
}

void AddDuringScan(CStdioFile*) {
    g_parser->Add(9, "#q", Record<9>);
}
void FeedDuringScan(CStdioFile*) {
    g_parser->CheckForToken('z');
}

TEST_F(ParserTest, ScanSeesTokensAndCountersThatHandlersChange) {
    // "#q" is added by the first handler and found later in the same scan; the "z" fed by the
    // second handler starts "zy", which the file's next byte completes.
    const std::string path = WriteTemp("changes", "#q add #q feedy");
    CParser parser;
    g_parser = &parser;
    ASSERT_EQ(parser.Add(1, "add", AddDuringScan), 1);
    ASSERT_EQ(parser.Add(2, "feed", FeedDuringScan), 1);
    ASSERT_EQ(parser.Add(3, "zy", Record<3>), 1);
    EXPECT_EQ(parser.ParseFile(path.c_str()), 1);
    EXPECT_EQ(g_calls, (std::vector<Call>{{9, true}, {3, true}}));
}

// ---------------------------------------------------------------------------------------------
// Feeding a file's text byte by byte finds what ParseFile finds.

TEST_F(ParserTest, FeedingTheTextFindsWhatTheScanFinds) {
    std::mt19937 rng(20240607);
    // Tokens use the first six; the input now and then holds a zero byte or a 0x1A.
    const char alphabet[] = {'a', 'b', 'c', '\r', '\n', '\xE9', '\0', '\x1a'};
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        CParser scanned;
        CParser fed;
        // Up to six random tokens over the same alphabet (without the zero byte).
        void (*const handlers[])(CStdioFile*) = {Record<1>, Record<2>, Record<3>,
                                                 Record<4>, Record<5>, Record<6>};
        for (int id = 1; id <= 6; ++id) {
            std::string text;
            for (int n = 1 + static_cast<int>(rng() % 4); n > 0; --n)
                text += alphabet[rng() % 6];
            int a = scanned.Add(id, text.c_str(), handlers[id - 1]);
            ASSERT_EQ(fed.Add(id, text.c_str(), handlers[id - 1]), a);
        }
        std::string bytes;
        for (int n = static_cast<int>(rng() % 400); n > 0; --n)
            bytes += alphabet[rng() % 50 == 0 ? rng() % 8 : rng() % 6];
        const std::string path = WriteTemp("invariant", bytes);

        g_calls.clear();
        ASSERT_EQ(scanned.ParseFile(path.c_str()), 1);
        std::vector<int> byScan;
        for (const Call& c : g_calls)
            byScan.push_back(c.id);

        CStdioFile text;
        ASSERT_TRUE(text.Open(path.c_str(), 0));
        std::vector<int> byFeed;
        unsigned char ch;
        while (text.Read(&ch, 1) == 1) {
            if (int id = fed.CheckForToken(ch))
                byFeed.push_back(id);
        }
        EXPECT_EQ(byScan, byFeed);
    }
}

} // namespace
