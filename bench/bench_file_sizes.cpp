// The start of the program against the size of the score file it reads: none, empty, every
// chart scored in title order and in reverse, and the largest file read, of titles no chart has.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "bench.h"
#include "score_file.h"

namespace bench {

namespace {

// Writes the records (four lines each: title, date, DP lost, a rule) into folder/Scores.txt.
void WriteRecords(const char *folder, const std::vector<std::string> &records)
{
    if (mkdir(folder, 0700) != 0 && errno != EEXIST)
        Fail(std::string("cannot make ") + folder);
    FILE *file = std::fopen((std::string(folder) + "/Scores.txt").c_str(), "wb");
    if (file == nullptr)
        Fail(std::string("cannot write into ") + folder);
    for (const std::string &record : records)
        std::fputs(record.c_str(), file);
    if (std::fclose(file) != 0)
        Fail(std::string("cannot write into ") + folder);
}

std::vector<std::string> RecordsOf(const char *path)
{
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr)
        Fail(std::string("cannot read ") + path);
    std::vector<std::string> records;
    std::string record;
    char line[512];
    for (int lines = 1; std::fgets(line, sizeof line, file) != nullptr; ++lines) {
        record += line;
        if (lines % 4 == 0)
            records.push_back(std::move(record)), record.clear();
    }
    std::fclose(file);
    return records;
}

long long FileSize(const std::string &path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

}  // namespace

void BenchScoreFileSizes()
{
    std::vector<std::string> inOrder = RecordsOf("Scores.txt");
    std::vector<std::string> reversed(inOrder.rbegin(), inOrder.rend());
    std::vector<std::string> unknown;
    size_t bytes = 0;
    for (int serial = 0;; ++serial) {
        char record[96];
        std::snprintf(record, sizeof record, "A title no chart has %07d\n01/01/2005\n%d\n----------\n", serial, serial % 900);
        if (bytes + std::strlen(record) > size_t(MaxScoreFileSize))
            break;
        bytes += std::strlen(record);
        unknown.push_back(record);
    }
    WriteRecords("size-empty", {});
    WriteRecords("size-title-order", inOrder);
    WriteRecords("size-reverse-order", reversed);
    WriteRecords("size-unknown-titles", unknown);
    LetFilesRest();
    static const Named Sizes[] = {
        {"no-scores", "No Scores.txt"},
        {"size-empty", "An empty Scores.txt"},
        {"size-title-order", "Every chart scored, in title order"},
        {"size-reverse-order", "Every chart scored, in reverse title order"},
        {"size-unknown-titles", "2 MiB of titles no chart has (the largest file read)"},
    };
    std::vector<std::string> &lines = SizeRows;
    lines.push_back("| Start of the program, exec to first painted frame | Scores.txt | Instructions | Beyond no file | Per KiB of the file |");
    lines.push_back("|---|---:|---:|---:|---:|");
    double none = 0;
    for (const Named &size : Sizes) {
        Samples counts;
        for (int padding : {0, 32, 64})
            counts.values.push_back(CountInstructions("program", padding, size.key));
        const double instructions = counts.Median();
        if (none == 0)
            none = instructions;
        const long long fileBytes = FileSize(std::string(size.key) + "/Scores.txt");
        lines.push_back(Cells({size.says, Printed("%.0f bytes", double(fileBytes)), Printed("%.2f M", instructions / 1e6),
                               Printed("%+.2f M", (instructions - none) / 1e6),
                               fileBytes > 0 ? Printed("%.0f", (instructions - none) / (double(fileBytes) / 1024)) : "-"}));
    }
    lines.push_back("\nInstructions: callgrind --fair-sched=yes over the whole start, median of 3 environment sizes.");
}

}  // namespace bench
