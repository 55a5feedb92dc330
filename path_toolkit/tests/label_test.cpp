// The volume label cache of CPath, with the volume query answered by this test: it records
// which roots are asked and gives the labels the cases set.
#include <corvane.h>

#include <platform/win_fs.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_asked;
std::map<std::string, std::string> g_labels; // root => label; a missing root fails

} // namespace

extern "C" BOOL GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer,
                                      DWORD nVolumeNameSize, LPDWORD, LPDWORD, LPDWORD, LPSTR,
                                      DWORD) {
    g_asked.push_back(lpRootPathName);
    auto it = g_labels.find(lpRootPathName);
    if (it == g_labels.end()) {
        // A failed query leaves whatever the buffer held.
        std::strncpy(lpVolumeNameBuffer, "garbage", nVolumeNameSize);
        return FALSE;
    }
    std::strncpy(lpVolumeNameBuffer, it->second.c_str(), nVolumeNameSize);
    lpVolumeNameBuffer[nVolumeNameSize - 1] = '\0';
    return TRUE;
}

namespace {

class DriveLabel : public testing::Test {
protected:
    void SetUp() override {
        g_asked.clear();
        g_labels.clear();
    }
};

TEST_F(DriveLabel, RootAskedForEachKindOfPath) {
    struct {
        const char* path;
        int bServerName;
        const char* root; // null: nothing asked
    } cases[] = {
        {"C:\\dir\\x.txt", 0, "C:\\"},
        {"C:\\dir\\x.txt", 1, "C:\\"},
        {"C:", 0, "C:\\"},
        {"\\\\server\\share\\dir\\x.txt", 0, "\\\\server\\share\\"},
        {"\\\\server\\share\\dir\\x.txt", 1, nullptr}, // the server name instead
        {"\\home\\u\\x.txt", 0, "\\"},
        {"\\home\\u\\x.txt", 1, "\\"}, // rooted, not a network path: no server name
        {"x.txt", 0, ""},
        {"\\\\server\\x.txt", 0, ""},
        {"rel\\x.txt", 0, nullptr},
        {"C:rel\\x.txt", 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.bServerName ? " (server name)" : ""));
        g_asked.clear();
        CPath path(c.path, 0, 0);
        path.GetDriveLabel(c.bServerName);
        if (c.root) {
            ASSERT_EQ(1u, g_asked.size());
            EXPECT_EQ(c.root, g_asked[0]);
        } else {
            EXPECT_TRUE(g_asked.empty());
        }
    }
}

TEST_F(DriveLabel, NonEmptyLabelKeptUntilTheNextSplit) {
    g_labels["C:\\"] = "SYSTEM";
    CPath path("C:\\dir\\x.txt", 0, 0);
    EXPECT_STREQ("SYSTEM", path.GetDriveLabel(0));
    g_labels["C:\\"] = "CHANGED";
    EXPECT_STREQ("SYSTEM", path.GetDriveLabel(1));
    EXPECT_EQ(1u, g_asked.size());

    path.SetPath("C:\\dir\\x.txt", 0, 0);
    EXPECT_STREQ("CHANGED", path.GetDriveLabel(0));
    EXPECT_EQ(2u, g_asked.size());

    // Assignment from text is a new split too.
    g_labels["D:\\"] = "DATA";
    path = "D:\\y.txt";
    EXPECT_STREQ("DATA", path.GetDriveLabel(0));
}

TEST_F(DriveLabel, EmptyOrFailedAnswersAreAskedAgain) {
    g_labels["C:\\"] = "";
    CPath path("C:\\dir\\x.txt", 0, 0);
    EXPECT_STREQ("", path.GetDriveLabel(0));
    EXPECT_STREQ("", path.GetDriveLabel(0));
    EXPECT_EQ(2u, g_asked.size());

    // A failed query gives the empty label, not what the buffer held.
    CPath other("E:\\x.txt", 0, 0);
    EXPECT_STREQ("", other.GetDriveLabel(0));
    g_labels["E:\\"] = "LATE";
    EXPECT_STREQ("LATE", other.GetDriveLabel(0));
}

} // namespace
