#pragma once

#include "Require.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fuzz {

// A file name in a fresh folder that is removed when the fuzzer exits. The folder lives in
// memory (/dev/shm) where it can: a disk file system would make every run wait for flushes.
inline std::string ScratchFile(const std::string& name) {
    static std::string folder;
    if (folder.empty()) {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/morvandle-fuzz-XXXXXX";
        Require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder");
        folder = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
    }
    return folder + "/" + name;
}

} // namespace fuzz
