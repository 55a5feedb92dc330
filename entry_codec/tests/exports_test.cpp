// The library, loaded at run time the way a client binds it, offers its functions and variable
// under their plain names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using Compress = int (*)(const unsigned char*, unsigned int, unsigned char*, int*);
using Decompress = int (*)(const unsigned char*, int, unsigned char*, int, int);
using Sample = int (*)();

class Library {
public:
    explicit Library(const char* path) {
#ifdef _WIN32
        handle_ = LoadLibraryA(path);
#else
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~Library() {
        if (handle_ != nullptr) {
#ifdef _WIN32
            FreeLibrary(handle_);
#else
            dlclose(handle_);
#endif
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool loaded() const {
        return handle_ != nullptr;
    }
    void* Find(const char* name) const {
#ifdef _WIN32
        return reinterpret_cast<void*>(GetProcAddress(handle_, name));
#else
        return dlsym(handle_, name);
#endif
    }

private:
#ifdef _WIN32
    HMODULE handle_;
#else
    void* handle_;
#endif
};

TEST(QuorrinExports, PlainNamesResolve) {
    Library lib(QUORRIN_LIBRARY_PATH);
    ASSERT_TRUE(lib.loaded()) << QUORRIN_LIBRARY_PATH;
    void* compress = lib.Find("CompressPackage");
    void* decompress = lib.Find("DecompressPackage");
    void* sample = lib.Find("fnQuorrin");
    void* variable = lib.Find("nQuorrin");
    ASSERT_NE(compress, nullptr);
    ASSERT_NE(decompress, nullptr);
    ASSERT_NE(sample, nullptr);
    ASSERT_NE(variable, nullptr);
    EXPECT_EQ(lib.Find("Encode"), nullptr);

    EXPECT_EQ(reinterpret_cast<Sample>(sample)(), 42);
    EXPECT_EQ(*static_cast<int*>(variable), 0);

    // A call through the bound pointers round-trips.
    std::vector<unsigned char> input(300, 'x');
    std::memcpy(input.data(), "package entry", 13);
    std::vector<unsigned char> entry(input.size() - 1);
    int size = 0;
    ASSERT_EQ(reinterpret_cast<Compress>(compress)(input.data(), 300, entry.data(), &size), 1);
    std::vector<unsigned char> out(input.size());
    ASSERT_EQ(reinterpret_cast<Decompress>(decompress)(entry.data(), size, out.data(), 300, 0), 1);
    EXPECT_TRUE(out == input);
}

} // namespace
