// Test modules made from testdata/*.rc, and a generator of damaged copies of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fixtures {

// Path of a test module: name "versioned", arch "x86" or "x64".
std::string Path(const std::string& name, const std::string& arch);
// The arch whose modules this process can load as code (matching its own bitness).
const char* NativeArch();
std::vector<std::uint8_t> Read(const std::string& path);

// A file in the temporary directory, removed when the object goes.
class TempFile {
public:
    explicit TempFile(const std::vector<std::uint8_t>& bytes, const std::string& suffix = ".dll");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Damaged copies of a good test module. Each locates the structure it damages by reading the
// headers itself (the layout of a windres-made DLL is known), then changes one field.
enum class Damage {
    kCutInDirectory,      // the file ends 20 bytes into the root resource directory
    kDataOutsideFile,     // the version data entry's RVA points far past every section
    kDataSizeTooLarge,    // the version data entry's size runs past the end of its section
    kTypeDirIsRoot,       // the RT_VERSION entry's subdirectory offset is 0: the root itself
    kLanguageDirIsSelf,   // the version's language entry points at its own directory
    kEntryCountHuge,      // the root directory claims 65535 id entries
    kNameOutsideFile,     // the first named entry's name offset points past the section
    kPeOffsetOutside,     // the DOS header's PE offset points past the end of the file
    kResourceRvaUnmapped, // the resource data directory's RVA lies in no section
};
struct DamageCase {
    Damage damage;
    const char* name;
};
extern const DamageCase kDamages[];
extern const std::size_t kDamageCount;

std::vector<std::uint8_t> Damaged(std::vector<std::uint8_t> good, Damage damage);

} // namespace fixtures
