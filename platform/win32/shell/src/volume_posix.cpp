// POSIX stand-in of GetVolumeInformationA: the label of the file system that holds a root.
//
// The mount table (/proc/self/mountinfo) names the device behind the mount that holds the
// root; /dev/disk/by-label holds one link per labelled block device, named after the label
// (with characters such as the blank escaped as \x20). The label is the name of the link
// whose device is that device. Without either (containers, tmpfs, macOS) the label is empty.
#include <platform/win_fs.h>

#include <platform/posix_path.h>

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif

namespace {

// Undoes the \xHH escapes of udev link names.
std::string UnescapeLabel(const std::string& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            unsigned value = 0;
            if (std::sscanf(name.c_str() + i + 2, "%2x", &value) == 1) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += name[i];
    }
    return out;
}

// Undoes the octal escapes (\040 for a blank) of mountinfo fields.
std::string UnescapeMountField(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char* p = field.c_str() + i + 1;
            if (p[0] >= '0' && p[0] <= '3' && p[1] >= '0' && p[1] <= '7' && p[2] >= '0' &&
                p[2] <= '7') {
                out += static_cast<char>((p[0] - '0') * 64 + (p[1] - '0') * 8 + (p[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

struct MountEntry {
    std::string source;
    std::string fsType;
};

// The mount whose device number is dev (the deepest one when several share it does not
// matter: they share the device and so the label).
bool FindMount(dev_t dev, MountEntry* entry) {
#if defined(__linux__)
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mountpoint options [optional...] - type source superopts
        std::istringstream fields(line);
        std::string id, parent, majMin;
        if (!(fields >> id >> parent >> majMin))
            continue;
        unsigned major = 0, minor = 0;
        if (std::sscanf(majMin.c_str(), "%u:%u", &major, &minor) != 2)
            continue;
        if (makedev(major, minor) != dev)
            continue;
        std::size_t dash = line.find(" - ");
        if (dash == std::string::npos)
            continue;
        std::istringstream tail(line.substr(dash + 3));
        std::string type, source;
        tail >> type >> source;
        entry->fsType = UnescapeMountField(type);
        entry->source = UnescapeMountField(source);
        return true;
    }
#else
    (void)dev;
    (void)entry;
#endif
    return false;
}

std::string LabelOfDevice(dev_t blockDevice) {
    std::string label;
    DIR* dir = opendir("/dev/disk/by-label");
    if (!dir)
        return label;
    while (struct dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::string link = std::string("/dev/disk/by-label/") + e->d_name;
        struct stat st;
        if (stat(link.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == blockDevice) {
            label = UnescapeLabel(e->d_name);
            break;
        }
    }
    closedir(dir);
    return label;
}

void CopyOut(const std::string& text, LPSTR buffer, DWORD size) {
    if (!buffer || size == 0)
        return;
    std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace

extern "C" BOOL GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer,
                                      DWORD nVolumeNameSize, LPDWORD lpVolumeSerialNumber,
                                      LPDWORD lpMaximumComponentLength, LPDWORD lpFileSystemFlags,
                                      LPSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize) {
    std::string root;
    if (!dbpf::posix::ToPosixPath(lpRootPathName, &root) || root.back() != '/')
        return FALSE;
    struct stat st;
    if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return FALSE;

    MountEntry mount;
    std::string label;
    if (FindMount(st.st_dev, &mount)) {
        // The mount's source names the block device; for file systems such as btrfs the
        // device number of the files is not the block device's.
        struct stat source;
        dev_t device = st.st_dev;
        if (mount.source.compare(0, 5, "/dev/") == 0 && stat(mount.source.c_str(), &source) == 0 &&
            S_ISBLK(source.st_mode))
            device = source.st_rdev;
        label = LabelOfDevice(device);
    } else {
        label = LabelOfDevice(st.st_dev);
    }

    CopyOut(label, lpVolumeNameBuffer, nVolumeNameSize);
    if (lpVolumeSerialNumber)
        *lpVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    if (lpMaximumComponentLength)
        *lpMaximumComponentLength = 255;
    if (lpFileSystemFlags)
        *lpFileSystemFlags = 0;
    CopyOut(mount.fsType, lpFileSystemNameBuffer, nFileSystemNameSize);
    return TRUE;
}
