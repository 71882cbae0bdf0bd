#pragma once
// Inputs of the list check and what it must make of them, shared by the
// core, command-line and window tests.
#include <cstdint>
#include <string>
#include <vector>

namespace vqtest {

struct CheckCase {
    std::string name;
    std::string input;
    int64_t lines; // as the text-file reader splits them
    int64_t kept;
    std::string written; // the output when a repeat was found; "" = nothing written
};

inline std::string numberLines(int from, int to, int modulo) {
    std::string text;
    for (int i = from; i < to; ++i)
        text += std::to_string(i % modulo) + "\r\n";
    return text;
}

// The cases as given; checkCases() adds their twins written on Linux.
inline const std::vector<CheckCase>& givenCheckCases() {
    static const std::vector<CheckCase> cases = {
        {"ManyLinesRepeatingEarlyOnes", numberLines(0, 3000, 700), 3000, 700,
         numberLines(0, 700, 700)},
        {"RepeatsKeepFirstOccurrenceInOrder", "a\r\nb\r\na\r\nc\r\nb\r\na\r\n", 6, 3,
         "a\r\nb\r\nc\r\n"},
        {"AllDistinct", "a\r\nb\r\nc", 3, 3, ""},
        {"EmptyFile", "", 0, 0, ""},
        {"OneLine", "x@y.cn", 1, 1, ""},
        {"CaseAndTrailingSpacesAreDistinct", "a@b.cn\r\nA@b.cn\r\na@b.cn \r\n a@b.cn\r\na@b.cn\r\n",
         5, 4, "a@b.cn\r\nA@b.cn\r\na@b.cn \r\n a@b.cn\r\n"},
        {"RepeatedEmptyLinesKeepOne", "\r\n\r\nx\r\n\r\n", 4, 2, "\r\nx\r\n"},
        {"LfIsDataAfterAFirstCr", "x\r\na\nb\r\na\nb\r\na\r\n", 4, 3, "x\r\na\nb\r\na\r\n"},
        {"LinuxListWithCrLfAndLfCr", "a\nb\r\na\n\rb\n\n", 6, 3, "a\r\nb\r\n\r\n"},
        // A kept line that is a prefix of a later one, and the other way round.
        {"PrefixesAreDistinct", "ab\r\na\r\nabc\r\n\r\nab\r\na\r\nabc\r\n", 7, 4,
         "ab\r\na\r\nabc\r\n\r\n"},
        {"LoneCrEndsALineAndEndMarkEndsTheList",
         "a\rb\ra\r\n\x1A"
         "b\r\nc\r\n",
         3, 2, "a\r\nb\r\n"},
        {"BytesAreKeptAsTheyAre", std::string("\xB0\xA1\0z\r\n\xB0\xA1\0Z\r\n\xB0\xA1\0z", 16), 3,
         2, std::string("\xB0\xA1\0z\r\n\xB0\xA1\0Z\r\n", 12)},
    };
    return cases;
}

// Every case, and each case whose lines all end in CR LF once more as the
// same list written on Linux: every count and output byte must be the same.
inline const std::vector<CheckCase>& checkCases() {
    static const std::vector<CheckCase> cases = [] {
        std::vector<CheckCase> all = givenCheckCases();
        for (const CheckCase& c : givenCheckCases()) {
            std::string lf;
            bool onlyCrLf = true;
            for (std::size_t i = 0; i < c.input.size() && onlyCrLf; ++i) {
                const char ch = c.input[i];
                if (ch == '\n' || (ch == '\r' && c.input[i + 1] != '\n')) onlyCrLf = false;
                if (ch == '\r') ++i; // its LF stays
                lf += c.input[i];
            }
            if (onlyCrLf && lf.find('\n') != std::string::npos)
                all.push_back({c.name + "WrittenOnLinux", lf, c.lines, c.kept, c.written});
        }
        return all;
    }();
    return cases;
}

} // namespace vqtest
