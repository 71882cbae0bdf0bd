#pragma once
// Scratch files and checks shared by the fuzz targets.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzzutil {

// A mismatch is a crash, so libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);          \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// One folder per process, in memory when the system has one, so the
// targets spend their time in the code and not on the disk.
inline const std::string& scratchFolder() {
    // Never destroyed, so the exit handler that removes the folder can still
    // read its name.
    static const std::string* folder = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        auto* f = new std::string(std::string(base) + "/vq-fuzz-" + std::to_string(getpid()));
        mkdir(f->c_str(), 0700);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratchFolder(), ec);
        });
        return f;
    }();
    return *folder;
}

inline std::string scratch(const char* name) {
    return scratchFolder() + "/" + name;
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Entries of the scratch folder: a stray temporary file shows up here.
inline std::size_t scratchEntries() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(scratchFolder()))
        ++n;
    return n;
}

inline bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace fuzzutil
