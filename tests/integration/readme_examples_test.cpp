// The examples of the README, compiled and run. Each region between "// README <name>" and
// "// README end" is the text of the README's example <name> (check_readme_examples.py compares
// them when the tests run), so an example that stops compiling or answering what its comments
// say fails here. The code around the regions provides their inputs and checks their results.
#include <corvane.h>
#include <dbpf_package.h>
#include <edrith.h>
#include <nimbrel.h>
#include <pellisk.h>
#include <quorrin.h>
#include <talmoor.h>

#include <platform/win_resources.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes `bytes` to `path` in the working directory and removes it again at the end of a test.
class ScratchFile {
public:
    ScratchFile(const char* path, const std::string& bytes) : m_path(path) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    ~ScratchFile() { std::remove(m_path); }

private:
    const char* m_path;
};

TEST(ReadmeExamples, Quorrin) {
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "entry " + std::to_string(i % 17) + " of the package; ";
    const std::vector<unsigned char> plain(text.begin(), text.end());
    // README quorrin
    std::vector<unsigned char> entry(plain.size() - 1);
    int entrySize = 0;
    // 0 when the input is too short or too dense to come out shorter
    if (CompressPackage(plain.data(), plain.size(), entry.data(), &entrySize)) {
        entry.resize(entrySize);
    }
    std::vector<unsigned char> back(plain.size());
    int ok = DecompressPackage(entry.data(), entrySize, back.data(), back.size(), 0); // 1
    // README end
    EXPECT_EQ(ok, 1);
    EXPECT_LT(entrySize, static_cast<int>(plain.size()));
    EXPECT_EQ(back, plain);
}

TEST(ReadmeExamples, Nimbrel) {
    const unsigned char* data = reinterpret_cast<const unsigned char*>("abc");
    int length = 3;
    // README nimbrel
    unsigned char digest[16];
    GetMD5(data, length, digest); // always writes 16 bytes; a negative length digests nothing
    // README end
    // RFC 1321, appendix A.5: MD5("abc").
    const unsigned char expected[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                        0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    EXPECT_EQ(std::memcmp(digest, expected, 16), 0);
}

TEST(ReadmeExamples, Corvane) {
    // README corvane
    CPath path("C:\\games\\sim\\pack.package", FALSE, FALSE);
    CString title = path.GetFileTitle(); // "pack"
    CString ext = path.GetExtension();   // ".package"
    CPath self(0);                       // this process's command line, split
    int n = self.GetArgCount();
    // README end
    EXPECT_STREQ(title, "pack");
    EXPECT_STREQ(ext, ".package");
    EXPECT_GE(n, 0);
}

// README talmoor
static int tags = 0;
// file is the open file during ParseFile, else null
static void OnTag(CStdioFile* file) {
    tags += file != nullptr;
}
// README end

TEST(ReadmeExamples, Talmoor) {
    ScratchFile notes("notes.txt", "a <tag> in the notes\n");
    // README talmoor
    CParser parser;
    parser.Add(1, "<tag>", OnTag);               // 0: id taken or token overlaps another
    int scanned = parser.ParseFile("notes.txt"); // 1; 0 and one message box when it cannot open
    // Bytes fed one at a time: the id of a token completed by this byte, or 0
    int id = parser.CheckForToken('x');
    // README end
    EXPECT_EQ(scanned, 1);
    EXPECT_EQ(tags, 1);
    EXPECT_EQ(id, 0);
}

TEST(ReadmeExamples, Edrith) {
    ScratchFile module("editor.exe", ReadFile(DBPF_README_MODULE));
    // README edrith
    CFileVersionInfo info;
    CString version;
    char company[128] = "";
    if (info.Open("editor.exe")) {       // 0 when the file has no usable version resource
        version = info.GetFileVersion(); // "Sample Product 1.2.3.4": product name and
                                         // file version of the current translation
        info.QueryStringValue("CompanyName", company, sizeof company);
    }
    // README end
    EXPECT_STREQ(version, "Sample Product 1.2.3.4");
    EXPECT_STREQ(company, "Example Software Ltd.");
}

TEST(ReadmeExamples, Pellisk) {
    HINSTANCE module = LoadLibraryExA(DBPF_README_IMAGES, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << DBPF_README_IMAGES;
    // README pellisk
    CGdiPlusBitmapResource image;
    UINT width = 0;
    if (image.Load("LOGO", "PNG", module)) { // 0 and an empty object on any failure
        width = image.m_pBitmap->GetWidth();
    }
    // README end
    EXPECT_GT(width, 0u);

    // A buffer of encoded image data: the same picture as a BMP file, 2 x 1 pixels, 24 bits.
    unsigned char bytes[] = {
        'B', 'M', 62,  0, 0,   0, 0, 0, 0, 0, 54, 0, 0, 0, // file header: size 62, pixels at 54
        40,  0,   0,   0, 2,   0, 0, 0, 1, 0, 0,  0,       // info header: 40 bytes, 2 x 1
        1,   0,   24,  0, 0,   0, 0, 0, 8, 0, 0,  0,       // 1 plane, 24 bits, BI_RGB, 8 bytes
        0,   0,   0,   0, 0,   0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, // resolution and palette: none
        0,   0,   255, 0, 255, 0, 0, 0};                         // red, green, row padding
    DWORD size = sizeof bytes;
    // README pellisk
    image.Load(bytes, size); // from a buffer of encoded image data
    // README end
    ASSERT_NE(image.m_pBitmap, nullptr);
    EXPECT_EQ(image.m_pBitmap->GetWidth(), 2u);
    FreeLibrary(module);
}

TEST(ReadmeExamples, Package) {
    {
        // The package the example opens: four entries of text.
        dbpf::PackageWriter build(dbpf::Format::kDbpf11);
        for (std::uint64_t i = 0; i < 4; ++i) {
            const std::string text(1000, static_cast<char>('a' + i));
            ASSERT_TRUE(build.Add({0x6B943B43, 0, i}, {text.begin(), text.end()}).ok());
        }
        ASSERT_TRUE(build.Write("build.package", dbpf::WriteOptions()).ok());
    }
    // README package
    auto opened = dbpf::Package::Open("build.package"); // mapped read-only, not read whole
    if (!opened) {
        std::puts(opened.error().Describe().c_str()); // names the entry and the reason
        return;
    }
    const dbpf::Package& pkg = opened.value();
    std::vector<unsigned char> bytes;
    dbpf::Error e = pkg.Read(3, bytes);                // entry 3, expanded (thread-safe)
    std::vector<dbpf::Error> problems = pkg.Verify(2); // every check, on 2 threads

    dbpf::PackageWriter writer(dbpf::Format::kDbpf20); // or kDbpf11
    writer.Add({0x6B943B43, 0, 0x1234}, bytes);        // compressed where that makes it smaller
    dbpf::WriteOptions options;
    options.jobs = 2;                         // the same bytes whatever the jobs
    e = writer.Write("out.package", options); // temporary file, renamed on success
    // README end
    EXPECT_TRUE(e.ok());
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(bytes, std::vector<unsigned char>(1000, 'd'));
    auto written = dbpf::Package::Open("out.package");
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(written.value().Entries().size(), 1u);
    std::remove("build.package");
    std::remove("out.package");
}

} // namespace
