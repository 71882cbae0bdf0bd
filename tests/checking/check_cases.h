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

inline std::string longLine(char fill) {
    return std::string(9000, fill);
}

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
        {"AllRepeats", numberLines(0, 400, 1), 400, 1, "0\r\n"},
        {"ManyDistinctLines", numberLines(0, 2500, 2500), 2500, 2500, ""},
        // Lines longer than a small budget and than a chunk of a partition,
        // one the start of another.
        {"LinesLongerThanTheBudget",
         longLine('q') + "\r\nx\r\n" + longLine('q') + "\r\n" + longLine('q') + "r\r\nx\r\n" +
             longLine('q') + "r\r\ny\r\n",
         7, 4, longLine('q') + "\r\nx\r\n" + longLine('q') + "r\r\ny\r\n"},
    };
    return cases;
}

// The ways every case is checked: in memory, and with budgets so small
// that the lines go into partitions (from the first line on, or after a
// direct start whose rows then join them), kept in the scratch file or in
// memory, in as many partitions as the sizes ask for or in one, two or
// many. The command line and the window set budgets only.
struct CheckWay {
    std::string name;
    uint64_t memory; // bytes; 0: the machine's default
    int partitions;  // 0: as many as the sizes ask for
    // The pass is not told the line total, as for a list that grew since
    // it was counted: a list that looked small starts directly.
    bool uncounted = false;
};

inline const std::vector<CheckWay>& checkWays() {
    static const std::vector<CheckWay> ways = {
        {"InMemory", 0, 0},
        {"PartitionedInTheScratchFile", 1, 0},
        {"PartitionedAfterADirectStart", 2048, 0},
        {"PartitionedAfterManyDirectRows", 16 << 10, 0, true},
        {"PartitionedInMemory", 48 << 10, 0},
        {"InOnePartition", 1, 1},
        {"InTwoPartitions", 1, 2},
        {"InSevenPartitions", 1, 7},
    };
    return ways;
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
