#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A property that does not hold ends the run; libFuzzer keeps the input as a crash file.
inline void Require(bool holds, const std::string& what) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %s\n", what.c_str());
    std::abort();
}

} // namespace fuzz
