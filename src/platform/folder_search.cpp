#include "platform/folder_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vq::platform {

namespace {

unsigned char foldCase(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - 32 : c;
}

uint32_t attributesOf(int dirFd, const char* name) {
    struct stat st;
    uint32_t a = 0;
    if (fstatat(dirFd, name, &st, 0) != 0) {
        // A link to nothing: let the caller try it as a file and report why
        // it cannot be opened.
        if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return attr::Archive;
        st.st_mode = (st.st_mode & ~S_IFMT) | S_IFREG;
    }
    if (S_ISDIR(st.st_mode))
        a |= attr::Directory;
    else if (S_ISREG(st.st_mode))
        a |= attr::Archive;
    else
        a |= attr::System;
    if (!(st.st_mode & S_IWUSR)) a |= attr::ReadOnly;
    if (name[0] == '.') a |= attr::Hidden;
    return a;
}

} // namespace

bool matchesPattern(std::string_view pattern, std::string_view name) {
    // Greedy matching with one backtrack point: linear enough for file names.
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || foldCase(static_cast<unsigned char>(pattern[p])) ==
                                             foldCase(static_cast<unsigned char>(name[n])))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

FolderSearch::~FolderSearch() {
    close();
}

void FolderSearch::close() {
    if (dir_) closedir(static_cast<DIR*>(dir_));
    dir_ = nullptr;
}

bool FolderSearch::findFirst(const std::string& folderAndPattern, FolderEntry& entry) {
    close();
    std::string folder;
    auto slash = folderAndPattern.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        pattern_ = folderAndPattern;
    } else {
        folder = folderAndPattern.substr(0, slash);
        pattern_ = folderAndPattern.substr(slash + 1);
        if (folder.empty()) folder = "/";
    }
    dir_ = opendir(folder.c_str());
    if (!dir_) return false;
    if (findNext(entry)) return true;
    close();
    return false;
}

bool FolderSearch::findNext(FolderEntry& entry) {
    if (!dir_) return false;
    DIR* d = static_cast<DIR*>(dir_);
    while (const dirent* e = readdir(d)) {
        std::string_view name(e->d_name);
        // "." and ".." are not entries any caller wants.
        if (name == "." || name == "..") continue;
        if (!matchesPattern(pattern_, name)) continue;
        entry.name.assign(name);
        entry.attributes = attributesOf(dirfd(d), e->d_name);
        return true;
    }
    return false;
}

} // namespace vq::platform
