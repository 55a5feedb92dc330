// Uses each installed library once through its public header, so that the headers compile
// outside the source tree and every library and its platform pieces link.
#include <cstdio>
#include <cstring>

#ifdef HAVE_QUORRIN
#include <quorrin.h>
#endif
#ifdef HAVE_NIMBREL
#include <nimbrel.h>
#endif
#ifdef HAVE_CORVANE
#include <corvane.h>
#endif
#ifdef HAVE_TALMOOR
#include <talmoor.h>
#endif
#ifdef HAVE_EDRITH
#include <edrith.h>
#endif
#ifdef HAVE_PELLISK
#include <pellisk.h>
#endif
#ifdef HAVE_PACKAGE
#include <dbpf_package.h>
#include <vector>
#endif

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) {
        ++g_failures;
    }
}

} // namespace

int main() {
#ifdef HAVE_QUORRIN
    {
        unsigned char plain[200];
        for (int i = 0; i < 200; ++i) {
            plain[i] = static_cast<unsigned char>("installed "[i % 10]);
        }
        unsigned char packed[199];
        unsigned char back[200] = {};
        int size = 0;
        Check(fnQuorrin() == 42 && nQuorrin == 0, "Quorrin sample exports");
        Check(CompressPackage(plain, 200, packed, &size) == 1 &&
                  DecompressPackage(packed, size, back, 200, 0) == 1 &&
                  std::memcmp(plain, back, 200) == 0,
              "Quorrin round trip");
    }
#endif
#ifdef HAVE_NIMBREL
    {
        // RFC 1321: MD5("abc") = 900150983cd24fb0d6963f7d28e17f72
        static const unsigned char expected[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                                   0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
        unsigned char digest[16] = {};
        GetMD5(reinterpret_cast<const unsigned char*>("abc"), 3, digest);
        Check(fnNimbrel() == 42 && std::memcmp(digest, expected, 16) == 0, "Nimbrel digest");
    }
#endif
#ifdef HAVE_CORVANE
    {
        CPath path("C:\\games\\data\\sims.package", 0, 0);
        Check(path.GetFileTitle() == "sims" && path.GetExtension() == ".package" &&
                  path.GetDirCount() == 2,
              "Corvane split");
    }
#endif
#ifdef HAVE_TALMOOR
    {
        CParser parser;
        int found = 0;
        if (parser.Add(7, "DBPF", nullptr) == 1) {
            for (const char* p = "xxDBPFyy"; *p != '\0'; ++p) {
                found += parser.CheckForToken(static_cast<unsigned char>(*p));
            }
        }
        Check(found == 7, "Talmoor token");
    }
#endif
#ifdef HAVE_EDRITH
    {
        CFileVersionInfo info;
        Check(!info.Open("this file does not exist.dll") && !info.IsValid(),
              "Edrith refuses a missing file");
    }
#endif
#ifdef HAVE_PELLISK
    {
        // A 1x1 BMP, 24 bits, one blue pixel (rows padded to 4 bytes).
        unsigned char bmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                 0,   0,   0,  1, 0, 0, 0, 1, 0, 0, 0,  1, 0, 24, 0};
        bmp[54] = 0xFF;
        CGdiPlusBitmapResource image;
        Check(image.Load(bmp, sizeof bmp) && image.m_pBitmap != nullptr &&
                  image.m_pBitmap->GetWidth() == 1,
              "Pellisk loads a BMP from a buffer");
    }
#endif
#ifdef HAVE_PACKAGE
    {
        // A 2.0 package of one compressed entry, written and read back in memory.
        std::vector<unsigned char> plain(1000, 'a'), file, back;
        dbpf::PackageWriter writer(dbpf::Format::kDbpf20);
        bool ok = writer.Add({1, 2, 3}, plain).ok() &&
                  writer.WriteToBuffer(file, dbpf::WriteOptions{}).ok();
        auto opened = dbpf::Package::OpenBuffer(file.data(), file.size());
        ok = ok && opened.ok() && opened.value().Entries().size() == 1 &&
             opened.value().Entries()[0].compression == dbpf::Compression::kEntry &&
             opened.value().Read(0, back).ok() && back == plain;
        Check(ok, "DbpfPackage writes and reads a package");
    }
#endif
    std::printf("%d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
