// Concurrent use, for the ThreadSanitizer build: many threads reading one const Package, the
// writer's compression threads calling loaders at once, and Verify on several threads.
#include "dbpf_package.h"

#include "package_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace pkgtest;

TEST(PackageThreads, ReadersShareOneOpenPackage) {
    std::vector<Bytes> plain;
    dbpf::PackageWriter w(dbpf::Format::kDbpf20);
    for (std::uint32_t i = 0; i < 64; ++i) {
        plain.push_back(i % 2 ? Text(2000 + 31 * i, i) : Records(1500 + 17 * i, i));
        ASSERT_TRUE(w.Add({i, 1, i}, plain.back()).ok());
    }
    Bytes file;
    dbpf::WriteOptions options;
    options.jobs = 4;
    ASSERT_TRUE(w.WriteToBuffer(file, options).ok());
    auto opened = dbpf::Package::OpenBuffer(file.data(), file.size());
    ASSERT_TRUE(opened.ok());
    const dbpf::Package& pkg = opened.value();

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            Bytes out, scratch;
            for (std::size_t k = 0; k < 3 * plain.size(); ++k) {
                const std::size_t i = (k * 7 + static_cast<std::size_t>(t)) % plain.size();
                if (!pkg.Read(i, out, &scratch).ok() || out != plain[i]) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(pkg.Verify(4).empty());
}

TEST(PackageThreads, LoadersRunOnTheCompressionThreads) {
    std::atomic<int> calls{0};
    auto build = [&](unsigned jobs) {
        dbpf::PackageWriter w(dbpf::Format::kDbpf11);
        for (std::uint32_t i = 0; i < 40; ++i) {
            EXPECT_TRUE(w.Add({i, 2, i}, [&calls, i](std::vector<unsigned char>& bytes) {
                             ++calls;
                             bytes = Text(3000 + i, i);
                             return dbpf::Error{};
                         }).ok());
        }
        Bytes out;
        dbpf::WriteOptions options;
        options.jobs = jobs;
        EXPECT_TRUE(w.WriteToBuffer(out, options).ok());
        return out;
    };
    EXPECT_EQ(build(4), build(1));
    EXPECT_EQ(calls.load(), 80);
}
