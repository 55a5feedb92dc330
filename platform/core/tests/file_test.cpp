// CStdioFile text mode, positions, lines, open failures and read errors; AfxMessageBox hook.
#include <platform/afx.h>

#include <dbpf_test_support.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

dbpf_test::MessageBoxLog g_box;

} // namespace

// Every AfxMessageBox of this process comes here instead of a real box.
extern "C" AFX_CLIENT_EXPORT int AfxMessageBoxHook(const char* lpszText, UINT, UINT) {
    return g_box.Record(lpszText, 42);
}

namespace {

std::string TempPath(const std::string& name) {
    return dbpf_test::TempPath("afx_file_test_" + name);
}

std::string WriteTemp(const std::string& name, const std::string& bytes) {
    return dbpf_test::WriteTempFile("afx_file_test_" + name, bytes);
}

// Everything Read delivers, one byte per call, with the position after each byte.
std::string ReadAll(CStdioFile& file, std::string* positions = nullptr) {
    std::string out;
    unsigned char ch;
    while (file.Read(&ch, 1) == 1) {
        out += static_cast<char>(ch);
        if (positions != nullptr)
            *positions += std::to_string(file.GetPosition()) + " ";
    }
    return out;
}

struct TextCase {
    const char* name;
    std::string raw;
    std::string text;      // what text mode delivers
    std::string positions; // GetPosition after each delivered byte
};

TEST(StdioFileText, TranslatesCrLfAndStopsAtCtrlZ) {
    const TextCase cases[] = {
        {"plain", "ab\n", "ab\n", "1 2 3 "},
        {"crlf", "a\r\nb", "a\nb", "1 3 4 "},
        {"lone cr kept", "a\rb", "a\rb", "1 2 3 "},
        {"cr before crlf", "a\r\r\nb", "a\r\nb", "1 2 4 5 "},
        {"cr at end", "a\r", "a\r", "1 2 "},
        {"lf cr lf", "\n\r\n", "\n\n", "1 3 "},
        {"ctrl-z ends data",
         std::string("ab\x1a"
                     "cd\r\n",
                     7),
         "ab", "1 2 "},
        {"ctrl-z first",
         std::string("\x1a"
                     "ab",
                     3),
         "", ""},
        {"cr then ctrl-z", std::string("a\r\x1a\r\n", 5), "a\r", "1 2 "},
        {"zero and high bytes", std::string("\0\xE9\xFF", 3), std::string("\0\xE9\xFF", 3),
         "1 2 3 "},
        {"empty", "", "", ""},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = WriteTemp("text", c.raw);
        CStdioFile file;
        ASSERT_TRUE(file.Open(path.c_str(), 0));
        std::string positions;
        EXPECT_EQ(ReadAll(file, &positions), c.text);
        EXPECT_EQ(positions, c.positions);
        // The end stays the end, also after a 0x1A with data behind it.
        unsigned char ch;
        EXPECT_EQ(file.Read(&ch, 1), 0u);
        file.Close(); // opened without sharing

        // One large read gives the same bytes as byte-by-byte reads.
        CStdioFile again;
        ASSERT_TRUE(again.Open(path.c_str(), CFile::modeRead | CFile::typeText));
        char buf[64];
        UINT n = again.Read(buf, sizeof buf);
        EXPECT_EQ(std::string(buf, n), c.text);
    }
}

TEST(StdioFileText, BinaryModeDeliversBytesUnchanged) {
    const std::string raw("a\r\n\x1a"
                          "b\r",
                          6);
    std::string path = WriteTemp("binary", raw);
    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::typeBinary));
    EXPECT_EQ(ReadAll(file), raw);
    EXPECT_EQ(file.GetPosition(), raw.size());
}

TEST(StdioFileText, ReadStringSplitsLines) {
    std::string path = WriteTemp("lines", "one\r\ntwo\n\nthree\rx\nlast");
    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), 0));
    CString line;
    const char* expected[] = {"one", "two", "", "three\rx", "last"};
    for (const char* e : expected) {
        ASSERT_TRUE(file.ReadString(line)) << e;
        EXPECT_STREQ(line, e);
    }
    EXPECT_FALSE(file.ReadString(line));
    EXPECT_TRUE(line.IsEmpty());

    // A final line feed does not make an extra empty line.
    std::string path2 = WriteTemp("lines2", "x\r\n");
    CStdioFile file2;
    ASSERT_TRUE(file2.Open(path2.c_str(), 0));
    ASSERT_TRUE(file2.ReadString(line));
    EXPECT_STREQ(line, "x");
    EXPECT_FALSE(file2.ReadString(line));
}

TEST(StdioFileText, ReadStringIntoBufferKeepsLineFeedAndCuts) {
    std::string path = WriteTemp("buffer", "abcdef\r\ng");
    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), 0));
    char buf[8];
    std::memset(buf, 0x7F, sizeof buf);
    ASSERT_EQ(file.ReadString(buf, 4), buf);
    EXPECT_STREQ(buf, "abc");
    ASSERT_EQ(file.ReadString(buf, sizeof buf), buf);
    EXPECT_STREQ(buf, "def\n");
    ASSERT_EQ(file.ReadString(buf, sizeof buf), buf);
    EXPECT_STREQ(buf, "g");
    EXPECT_EQ(file.ReadString(buf, sizeof buf), nullptr);
}

TEST(StdioFileOpen, MissingFileFillsTheException) {
    const std::string path = TempPath("does_not_exist");
    std::remove(path.c_str());
    CFileException error;
    CStdioFile file;
    EXPECT_FALSE(file.Open(path.c_str(), 0, &error));
    EXPECT_EQ(file.m_pStream, nullptr);
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_STREQ(error.m_strFileName, path.c_str());
    char message[1024];
    ASSERT_TRUE(error.GetErrorMessage(message, sizeof message));
    const std::string text = message;
    EXPECT_EQ(text.find(path), 0u) << text;
    EXPECT_GT(text.size(), path.size() + 2) << text;
#ifdef _WIN32
    EXPECT_EQ(error.m_lOsError, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
#else
    EXPECT_EQ(error.m_lOsError, ENOENT);
    EXPECT_NE(text.find(std::strerror(ENOENT)), std::string::npos) << text;
#endif
}

// The temporary directory without its trailing separator.
std::string Directory() {
    std::string dir = ::testing::TempDir();
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\'))
        dir.pop_back();
    return dir;
}

TEST(StdioFileOpen, RefusesWhatItCannotRead) {
    const std::string file = WriteTemp("refuse", "x");
    struct Case {
        const char* name;
        std::string path;
        UINT flags;
        int cause;
    };
    const Case cases[] = {
        {"directory", Directory(), 0, CFileException::accessDenied},
        {"empty name", "", 0, CFileException::badPath},
        {"write access", file, CFile::modeWrite, CFileException::genericException},
        {"create", file, CFile::modeCreate, CFileException::genericException},
        {"text and binary", file, CFile::typeText | CFile::typeBinary,
         CFileException::genericException},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFileException error;
        CStdioFile f;
        EXPECT_FALSE(f.Open(c.path.c_str(), c.flags, &error));
        EXPECT_EQ(f.m_pStream, nullptr);
        EXPECT_EQ(error.m_cause, c.cause);
    }
    CStdioFile f;
    EXPECT_FALSE(f.Open(nullptr, 0)); // no exception object: just the result
}

TEST(StdioFileOpen, SecondOpenKeepsTheFirstFile) {
    const std::string a = WriteTemp("first", "first");
    const std::string b = WriteTemp("second", "second");
    CStdioFile file;
    ASSERT_TRUE(file.Open(a.c_str(), 0));
    char c;
    ASSERT_EQ(file.Read(&c, 1), 1u);
    CFileException error;
    EXPECT_FALSE(file.Open(b.c_str(), 0, &error));
    EXPECT_EQ(error.m_cause, CFileException::genericException);
    EXPECT_EQ(ReadAll(file), "irst");
    EXPECT_STREQ(file.GetFilePath(), a.c_str());
    file.Close();
    EXPECT_EQ(file.m_pStream, nullptr);
    EXPECT_EQ(file.Read(&c, 1), 0u); // a closed file has nothing to read
    file.Close();                    // closing twice is harmless
    EXPECT_TRUE(file.Open(b.c_str(), 0));
    EXPECT_EQ(ReadAll(file), "second");
}

#ifndef _WIN32
// The name goes through the mapping of Windows paths (its rules: posix_path_test.cpp): a
// Windows spelling of the file opens it, and the network spelling "\\..." is refused, although
// as "//..." POSIX would open the same file.
TEST(StdioFileOpen, NamesAreMappedAsWindowsPaths) {
    const std::string path = WriteTemp("drive_z", "z");
    ASSERT_EQ(path[0], '/');
    std::string windows = "Z:" + path;
    for (char& ch : windows) {
        if (ch == '/')
            ch = '\\';
    }
    CStdioFile file;
    ASSERT_TRUE(file.Open(windows.c_str(), 0)) << windows;
    EXPECT_EQ(ReadAll(file), "z");

    const std::string network = "\\" + windows.substr(2); // \\tmp\...
    CFileException error;
    CStdioFile refused;
    EXPECT_FALSE(refused.Open(network.c_str(), 0, &error)) << network;
    EXPECT_EQ(error.m_cause, CFileException::badPath);
}
#endif

#ifdef _WIN32
TEST(StdioFileOpen, OpensWithoutSharingAndDestructorCloses) {
    const std::string path = WriteTemp("share", "s");
    {
        CStdioFile first;
        ASSERT_TRUE(first.Open(path.c_str(), 0));
        CFileException error;
        CStdioFile second;
        EXPECT_FALSE(second.Open(path.c_str(), 0, &error));
        EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
    }
    CStdioFile third;
    EXPECT_TRUE(third.Open(path.c_str(), 0));
}
#endif

// Takes the OS file away from under the stream, so that the next refill of its buffer fails.
void PullTheRug(CStdioFile& file) {
    dbpf_test::PullTheRug(file.m_pStream);
}

TEST(StdioFileRead, ReadErrorThrowsFileException) {
    // Larger than any stdio buffer, so reading on must go to the OS again.
    const std::string path = WriteTemp("rug", std::string(1 << 18, 'x'));
    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), 0));
    char c;
    ASSERT_EQ(file.Read(&c, 1), 1u);
    PullTheRug(file);
    CFileException* caught = nullptr;
    try {
        CString line;
        while (file.ReadString(line)) {
        }
    } catch (CFileException* e) {
        caught = e;
    }
    ASSERT_NE(caught, nullptr);
    EXPECT_EQ(caught->m_cause, CFileException::invalidFile);
    EXPECT_STREQ(caught->m_strFileName, path.c_str());
    char message[64];
    EXPECT_TRUE(caught->GetErrorMessage(message, sizeof message));
    caught->Delete();
}

TEST(FileException, GetErrorMessageCutsAndRefuses) {
    CFileException e(CFileException::accessDenied, -1, "name");
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    ASSERT_TRUE(e.GetErrorMessage(buf, 5));
    EXPECT_STREQ(buf, "name");
    EXPECT_EQ(buf[5], '#');
    UINT help = 7;
    EXPECT_FALSE(e.GetErrorMessage(buf, 0, &help));
    EXPECT_EQ(help, 0u);
    EXPECT_EQ(buf[0], 'n');
    EXPECT_FALSE(e.GetErrorMessage(nullptr, 8));
    // Without an OS error the cause is described; without a name the text stands alone.
    CFileException bare(CFileException::accessDenied);
    char full[1024];
    ASSERT_TRUE(bare.GetErrorMessage(full, sizeof full));
    EXPECT_NE(std::string(full).find("denied"), std::string::npos) << full;
}

TEST(MessageBoxHook, ReplacesTheDefaultBox) {
    g_box.count = 0;
    EXPECT_EQ(AfxMessageBox("hello box"), 42);
    EXPECT_EQ(g_box.count, 1);
    EXPECT_EQ(g_box.text, "hello box");
}

} // namespace
