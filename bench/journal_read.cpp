// The play journal's read, against a plain read() of the same file, in the current directory:
//
//   brisko_journal_read make [lines]    writes Plays.csv of that many lines (100000)
//   brisko_journal_read plain|once|twice
//
// "plain" reads the file into a buffer, "once" is the first ReadPlayJournal of a window, "twice"
// that and the second one of the same session, which finds the same bytes. Each prints the
// wall time of each read; for instructions, count only the reads:
//   valgrind --tool=callgrind --toggle-collect='*ReadPlayJournal*' brisko_journal_read twice
//   valgrind --tool=callgrind --toggle-collect='*PlainRead*' brisko_journal_read plain
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "chart_table.h"
#include "play_journal.h"

namespace {

using Clock = std::chrono::steady_clock;

int Make(long lines)
{
    FILE *file = std::fopen(PlayJournalName, "wb");
    if (file == nullptr)
        return 1;
    std::fputs(PlayJournalHeader(), file);
    for (long i = 0; i < lines; ++i) {
        PlayLine line;
        char time[64];
        std::snprintf(time, sizeof time, "20%02ld-%02ld-%02ldT%02ld:%02ld:%02ld+01:00", 20 + i / 20000 % 80,
                      1 + i / 1700 % 12, 1 + i / 60 % 28, i / 3600 % 24, i / 60 % 60, i % 60);
        std::snprintf(line.time, sizeof line.time, "%.25s", time);
        line.chart = uint16_t(i * 97 % ChartCount);
        line.kind = i % 11 == 10 ? PlayKind::Undo : PlayKind::Play;
        line.hasCounts = line.kind == PlayKind::Play;
        const int32_t counts[5] = {int32_t(i % 500), int32_t(i % 37), int32_t(i % 5), int32_t(i % 3), 12};
        std::memcpy(line.counts, counts, sizeof counts);
        line.dpLost = uint16_t(i % 400);
        line.percent = uint16_t(9000 + i % 1001);
        std::strcpy(line.rank, "AA");
        line.replacedDpLost = uint16_t(i % 500);
        line.replacedYear = 2005;
        line.replacedMonth = 9;
        line.replacedDay = 6;
        char out[MaxPlayLineSize];
        std::fwrite(out, 1, FormatPlayLine(line, out), file);
    }
    return std::fclose(file) == 0 ? 0 : 1;
}

size_t __attribute__((noinline)) PlainRead(std::vector<char> &bytes)
{
    const int fd = open(PlayJournalName, O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0)
        return 0;
    bytes.resize(size_t(info.st_size) + 1);
    size_t total = 0;
    for (ssize_t got; (got = read(fd, bytes.data() + total, bytes.size() - total)) > 0;)
        total += size_t(got);
    close(fd);
    return total;
}

double Milliseconds(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char **argv)
{
    const char *mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "make") == 0)
        return Make(argc > 2 ? std::atol(argv[2]) : 100000);
    if (std::strcmp(mode, "plain") == 0) {
        std::vector<char> bytes;
        const Clock::time_point start = Clock::now();
        const size_t got = PlainRead(bytes);
        std::printf("plain read: %zu bytes in %.2f ms\n", got, Milliseconds(start));
        return got > 0 ? 0 : 1;
    }
    const int reads = std::strcmp(mode, "twice") == 0 ? 2 : std::strcmp(mode, "once") == 0 ? 1 : 0;
    if (reads == 0) {
        std::fprintf(stderr, "usage: brisko_journal_read make [lines] | plain | once | twice\n");
        return 2;
    }
    PlayJournal journal;
    for (int read = 1; read <= reads; ++read) {
        PlayJournalStatus status;
        const Clock::time_point start = Clock::now();
        const bool ok = ReadPlayJournal(journal, status);
        std::printf("read %d: %zu lines, %u skipped, %zu bytes in %.2f ms\n", read, journal.lines.size(),
                    journal.skippedLines, journal.text.size(), Milliseconds(start));
        if (!ok)
            return 1;
    }
    return 0;
}
