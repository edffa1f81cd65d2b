// Reading back what a snapshot left in a scratch folder (POSIX): the folder's
// entries and a plain file's bytes. Shared by the walker and the fuzz target.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace scratch {

// The names in a folder, without "." and ".."; empty when it cannot be read.
inline std::set<std::string> FolderEntries(const std::string &path) {
    std::set<std::string> names;
    if (DIR *dir = opendir(path.c_str())) {
        while (dirent *e = readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        closedir(dir);
    }
    return names;
}

// The content of a plain file; false for anything else, or nothing.
inline bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *out) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace scratch
