#pragma once
// What a replacement keeps of its target on POSIX.

#include <sys/stat.h>

#include <string>

struct CFileTarget {
    std::string path;  // the file itself, symbolic links resolved
    std::string directory;
    struct stat info {};  // of the locked file: identity, owner, group, mode
};
