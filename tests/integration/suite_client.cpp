// A client of the whole suite, as the editor is one: it imports all six libraries by name
// (no LoadLibrary or dlopen) and uses each with real data.
//
//   suite_client /text FILE /module VERSIONED_DLL /images IMAGE_DLL
//
// The arguments are read back through CPath(0), which splits this process's command line.
// Prints one line per check and exits 1 when any check fails.
#include <corvane.h>
#include <edrith.h>
#include <nimbrel.h>
#include <pellisk.h>
#include <quorrin.h>
#include <talmoor.h>

#include <platform/win_resources.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

bool Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok    " : "FAILED", what.c_str());
    if (!ok) {
        ++g_failures;
    }
    return ok;
}

std::string S(const CString& s) {
    return std::string(static_cast<const char*>(s));
}

std::string Hex(const unsigned char* d) {
    std::string s;
    char buf[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", d[i]);
        s += buf;
    }
    return s;
}

std::string Md5(const std::vector<unsigned char>& b) {
    unsigned char d[16];
    GetMD5(b.data(), static_cast<int>(b.size()), d);
    return Hex(d);
}

void SampleExports() {
    Check(fnQuorrin() == 42 && fnNimbrel() == 42, "fnQuorrin and fnNimbrel return 42");
    Check(nQuorrin == 0 && nNimbrel == 0, "nQuorrin and nNimbrel are 0");
    CQuorrin q;
    CNimbrel n;
    q = CQuorrin();
    n = CNimbrel();
}

// Entries of the kinds a package holds: text, tables of records, runs, and noise that does
// not compress (stored as is by the editor).
std::vector<std::vector<unsigned char>> MakeEntries() {
    std::vector<std::vector<unsigned char>> entries;
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    for (int i = 0; i < 40; ++i) {
        const std::size_t size =
            14 + static_cast<std::size_t>(i) * static_cast<std::size_t>(i) * 97;
        std::vector<unsigned char> b;
        b.reserve(size);
        while (b.size() < size) {
            switch (i % 4) {
            case 0: {
                const std::string line = "<Property name=\"p" + std::to_string(b.size() % 17) +
                                         "\" value=\"" + std::to_string(next() % 100) + "\"/>\n";
                b.insert(b.end(), line.begin(), line.end());
                break;
            }
            case 1:
                for (int k = 0; k < 4; ++k) {
                    b.push_back(static_cast<unsigned char>(k == 0 ? next() : b.size() / 16));
                }
                break;
            case 2:
                b.insert(b.end(), 1 + next() % 200, static_cast<unsigned char>(next()));
                break;
            default:
                b.push_back(static_cast<unsigned char>(next()));
            }
        }
        b.resize(size);
        entries.push_back(b);
    }
    return entries;
}

void EntriesRoundTrip() {
    // RFC 1321, appendix A.5.
    const std::vector<unsigned char> abc = {'a', 'b', 'c'};
    Check(Md5({}) == "d41d8cd98f00b204e9800998ecf8427e" &&
              Md5(abc) == "900150983cd24fb0d6963f7d28e17f72",
          "GetMD5 gives RFC 1321's digests");

    int stored = 0;
    int packed = 0;
    bool allOk = true;
    for (const auto& plain : MakeEntries()) {
        std::vector<unsigned char> entry(plain.size() - 1);
        int size = 0;
        if (CompressPackage(plain.data(), static_cast<unsigned>(plain.size()), entry.data(),
                            &size) != 1) {
            ++stored;
            continue;
        }
        ++packed;
        entry.resize(static_cast<std::size_t>(size));
        // The editor reads both sizes from the header, then expands in exact mode.
        const unsigned total =
            entry[0] | (entry[1] << 8) | (entry[2] << 16) | (static_cast<unsigned>(entry[3]) << 24);
        const unsigned plainSize = (entry[6] << 16) | (entry[7] << 8) | entry[8];
        std::vector<unsigned char> back(plainSize);
        const bool ok = total == entry.size() && plainSize == plain.size() &&
                        DecompressPackage(entry.data(), static_cast<int>(total), back.data(),
                                          static_cast<int>(plainSize), 0) == 1 &&
                        Md5(back) == Md5(plain);
        if (!ok) {
            allOk = false;
            Check(false, "entry of " + std::to_string(plain.size()) + " bytes");
        }
    }
    Check(allOk && packed > 20 && stored > 0,
          "entries compressed, expanded and digested: " + std::to_string(packed) + " packed, " +
              std::to_string(stored) + " stored as they are");
}

int g_dbpf = 0;
int g_tgi = 0;
int g_instance = 0;
void OnDbpf(CStdioFile*) {
    ++g_dbpf;
}
void OnTgi(CStdioFile*) {
    ++g_tgi;
}
void OnInstance(CStdioFile*) {
    ++g_instance;
}

void ScanText(const std::string& path) {
    CParser parser;
    const bool added = parser.Add(1, "DBPF", OnDbpf) == 1 && parser.Add(2, "TGI", OnTgi) == 1 &&
                       parser.Add(3, "<instance>", OnInstance) == 1 &&
                       parser.Add(4, "TGI table", nullptr) == 0; // contains "TGI": refused
    Check(added, "CParser registers three tokens and refuses a fourth that contains one");
    if (!Check(parser.ParseFile(path.c_str()) == 1, "CParser scans " + path)) {
        return;
    }
    // tokens.txt holds DBPF twice, TGI four times and <instance> twice.
    Check(g_dbpf == 2 && g_tgi == 4 && g_instance == 2,
          "handlers called DBPF " + std::to_string(g_dbpf) + ", TGI " + std::to_string(g_tgi) +
              ", <instance> " + std::to_string(g_instance) + " times (2, 4, 2)");

    // The same bytes fed one by one give the same tokens.
    std::FILE* f = std::fopen(path.c_str(), "r");
    int counts[5] = {};
    if (f != nullptr) {
        CParser fed;
        fed.Add(1, "DBPF", nullptr);
        fed.Add(2, "TGI", nullptr);
        fed.Add(3, "<instance>", nullptr);
        for (int c; (c = std::fgetc(f)) != EOF;) {
            ++counts[fed.CheckForToken(static_cast<unsigned char>(c))];
        }
        std::fclose(f);
    }
    Check(counts[1] == g_dbpf && counts[2] == g_tgi && counts[3] == g_instance,
          "CheckForToken fed byte by byte agrees with ParseFile");
}

void ReadVersion(const std::string& path) {
    CFileVersionInfo info;
    if (!Check(info.Open(path.c_str()) == 1, "CFileVersionInfo opens " + path)) {
        return;
    }
    Check(info.GetFileVersionMajor() == 1 && info.GetFileVersionMinor() == 2 &&
              info.GetFileVersionBuild() == 3 && info.GetFileVersionQFE() == 4,
          "file version 1.2.3.4");
    char company[64] = {};
    const bool found = info.QueryStringValue("CompanyName", company, sizeof company) == 1;
    Check(found && std::string(company) == "Example Software Ltd.",
          std::string("CompanyName is \"") + company + "\"");
    info.Close();
    Check(!info.IsValid(), "Close leaves the object closed");
}

void LoadImages(const std::string& path) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!Check(module != nullptr, "image module " + path + " opens as data")) {
        return;
    }
    {
        CGdiPlusBitmapResource png;
        Check(png.Load("LOGO", "PNG", module) == 1 && png.m_pBitmap != nullptr &&
                  png.m_pBitmap->GetWidth() == 13 && png.m_pBitmap->GetHeight() == 9,
              "CGdiPlusBitmapResource loads resource LOGO (PNG, 13x9)");
        CGdiPlusBitmapResource jpeg(2u, RT_RCDATA, module);
        Check(jpeg.m_pBitmap != nullptr && jpeg.m_pBitmap->GetWidth() == 24 &&
                  jpeg.m_pBitmap->GetHeight() == 16,
              "CGdiPlusBitmapResource loads resource 2 (JPEG, 24x16)");
        CGdiPlusBitmapResource garbage;
        Check(garbage.Load(8u, RT_RCDATA, module) == 0 && garbage.m_pBitmap == nullptr,
              "CGdiPlusBitmapResource refuses a resource that is no image");
    }
    FreeLibrary(module);
}

} // namespace

int main() {
    SampleExports();
    EntriesRoundTrip();

    CPath self(0);
    Check(S(self.GetFileTitle()) == "suite_client",
          "CPath(0) splits this program's command line: title \"" + S(self.GetFileTitle()) + "\"");
    const int text = self.FindArgument("text");
    const int module = self.FindArgument("-MODULE");
    const int images = self.FindArgument("/images");
    if (!Check(self.GetArgCount() == 3 && text >= 0 && module >= 0 && images >= 0,
               "arguments /text, /module and /images found")) {
        std::fprintf(stderr, "usage: suite_client /text FILE /module DLL /images DLL\n");
        return 1;
    }
    ScanText(S(self.GetArgument(text, 0)));
    ReadVersion(S(self.GetArgument(module, 0)));
    LoadImages(S(self.GetArgument(images, 0)));

    std::printf("%d check(s) failed\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
