#include "score_file_round_trip.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <unistd.h>

#include "score_file.h"

namespace {

constexpr long WrittenLineCount = 4L * ChartCount;

bool WriteWholeFile(const char *name, const uint8_t *data, size_t size)
{
    FILE *stream = std::fopen(name, "wb");
    if (stream == nullptr)
        return false;
    bool written = size == 0 || std::fwrite(data, 1, size, stream) == size;
    return std::fclose(stream) == 0 && written;
}

std::string ReadWholeFile(const char *name)
{
    std::string bytes;
    FILE *stream = std::fopen(name, "rb");
    if (stream == nullptr)
        return bytes;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
        bytes.append(buffer, got);
    std::fclose(stream);
    return bytes;
}

// The save's temporary is gone once the save is over: the folder holds the score file alone.
bool OnlyTheScoreFileIsThere()
{
    DIR *folder = opendir(".");
    if (folder == nullptr)
        return false;
    int others = 0;
    while (const dirent *entry = readdir(folder))
        others += std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
                  std::strcmp(entry->d_name, ScoreFileName) != 0;
    closedir(folder);
    return others == 0;
}

std::string Mismatch(const ChartRecord &chart, const char *field, long expected, long actual, const char *when)
{
    return std::string(when) + ": chart " + std::to_string(chart.index) + " \"" + chart.name + "\" has " + field + " " +
           std::to_string(actual) + ", expected " + std::to_string(expected);
}

// The fields a score file stores.
std::string CompareScores(const ChartRecord (&expected)[ChartCount], const char *when)
{
    for (int i = 0; i < ChartCount; ++i) {
        const ChartRecord &want = expected[i];
        const ChartRecord &got = ChartTable[i];
        if (got.dpLost != want.dpLost)
            return Mismatch(got, "dpLost", want.dpLost, got.dpLost, when);
        if (got.day != want.day)
            return Mismatch(got, "day", want.day, got.day, when);
        if (got.month != want.month)
            return Mismatch(got, "month", want.month, got.month, when);
        if (got.year != want.year)
            return Mismatch(got, "year", want.year, got.year, when);
    }
    return {};
}

// The fields no load may touch.
std::string CompareFixedFields(const ChartRecord (&expected)[ChartCount], const char *when)
{
    for (int i = 0; i < ChartCount; ++i) {
        const ChartRecord &want = expected[i];
        const ChartRecord &got = ChartTable[i];
        if (got.index != want.index || std::memcmp(got.name, want.name, sizeof got.name) != 0 ||
            got.steps != want.steps || got.freezes != want.freezes || got.maxDp != want.maxDp ||
            got.aaAllowance != want.aaAllowance)
            return std::string(when) + ": the built-in data of chart " + std::to_string(i) + " changed";
    }
    return {};
}

}  // namespace

// Most inputs end inside a record; each is read again at once, not after a pause. Every input
// was written a moment ago: a clock far ahead lets it count as at rest, read once.
ScoreFileRoundTrip::ScoreFileRoundTrip()
{
    std::memcpy(pristine_, ChartTable, sizeof pristine_);
    SetPauseBeforeReadingAgain([] {});
    SetScoreFileClock([] { return int64_t(1) << 62; });
}

void ScoreFileRoundTrip::Reset()
{
    std::memcpy(ChartTable, pristine_, sizeof pristine_);
    InitChartTable(&order_);
}

std::string ScoreFileRoundTrip::Check(const uint8_t *data, size_t size)
{
    std::string failure = Run(data, size);
    std::memcpy(ChartTable, pristine_, sizeof pristine_);
    return failure;
}

std::string ScoreFileRoundTrip::Run(const uint8_t *data, size_t size)
{
    Reset();
    ChartRecord initial[ChartCount];
    std::memcpy(initial, ChartTable, sizeof initial);
    if (!WriteWholeFile(ScoreFileName, data, size))
        return "cannot write the input to Scores.txt";

    bool ownMatched = LoadScoreFile();
    ChartRecord afterOwn[ChartCount];
    std::memcpy(afterOwn, ChartTable, sizeof afterOwn);
    std::string failure = CompareFixedFields(initial, "own load");
    for (int i = 0; failure.empty() && i < ChartCount; ++i)
        if (ChartTable[i].enemyDpLost != initial[i].enemyDpLost)
            failure = Mismatch(ChartTable[i], "enemyDpLost", initial[i].enemyDpLost, ChartTable[i].enemyDpLost, "own load");
    if (!failure.empty())
        return failure;

    // Both loads read the same records; a chart the file does not name keeps its comparison
    // value, which is preset to what the own load leaves on such a chart.
    Reset();
    for (ChartRecord &chart : ChartTable)
        chart.enemyDpLost = chart.maxDp;
    bool comparisonMatched = LoadScoreFile(ScoreFileName);
    if (comparisonMatched != ownMatched)
        return std::string("the own load yields ") + (ownMatched ? "true" : "false") + ", the comparison load " +
               (comparisonMatched ? "true" : "false");
    if (!(failure = CompareScores(initial, "comparison load")).empty())
        return failure;
    if (!(failure = CompareFixedFields(initial, "comparison load")).empty())
        return failure;
    for (int i = 0; i < ChartCount; ++i)
        if (ChartTable[i].enemyDpLost != afterOwn[i].dpLost)
            return Mismatch(ChartTable[i], "enemyDpLost", afterOwn[i].dpLost, ChartTable[i].enemyDpLost,
                            "comparison load against the own load");

    std::memcpy(ChartTable, afterOwn, sizeof afterOwn);
    if (!SaveScoreFile())
        return "saving what the own load read failed";
    if (!OnlyTheScoreFileIsThere())
        return "the save left its temporary behind";
    const std::string written = ReadWholeFile(ScoreFileName);
    if (std::count(written.begin(), written.end(), '\n') != WrittenLineCount || written.back() != '\n')
        return "the saved file does not hold 1024 whole lines";

    Reset();
    if (!LoadScoreFile())
        return "the program's own file matched no chart";
    if (!(failure = CompareScores(afterOwn, "reload of the saved file")).empty())
        return failure;
    if (!SaveScoreFile())
        return "saving the reloaded table failed";
    if (ReadWholeFile(ScoreFileName) != written)
        return "saving the reloaded table wrote other bytes than the first save";
    return {};
}
