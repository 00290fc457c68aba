#pragma once

// What the list benchmarks share: a program folder holding a large spammers.txt, with the
// settings read from it, and a stopwatch.

#include "config/dataConfig.h"
#include "platform/Paths.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <string>

namespace benchsupport {

inline double MillisecondsOf(const std::function<void()>& fn) {
    auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Makes folder the program folder, writes `lines` spammer entries (CR LF) to its
// spammers.txt and creates the settings; the caller loads the list.
inline void UseListFolder(const std::string& folder, int lines) {
    platform::SetProgramDirOverride(folder);
    platform::SetSettingsFileOverride(folder + "/Morvandle.ini");
    {
        std::ofstream out(folder + "/spammers.txt", std::ios::binary);
        for (int i = 0; i < lines; ++i)
            out << "spammer" << i << "@bulk-mail-" << i % 997 << ".example\r\n";
    }
    CreateConfigData();
}

} // namespace benchsupport
