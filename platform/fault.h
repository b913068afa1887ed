#pragma once

#include <string>
#include <utility>

namespace quillon {

// Why something failed, in one shape from the platform layer up to an
// update's cause: the words a reader is shown and, when the system said so,
// the system's code, which a caller decides on instead of reading the words.
// Empty words mean nothing failed.
struct Fault {
    std::string words;
    int code = 0;  // errno, or Windows' own error where a body says so; 0: not the system's

    bool Failed() const { return !words.empty(); }
    void Clear() { *this = Fault(); }

    // In our own words: nothing the system reported.
    static Fault Said(std::string words) { return {std::move(words), 0}; }
    // An errno value, in the C library's words.
    static Fault OfErrno(int code);
};

}  // namespace quillon
