#include "recovery_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "dp_scoring.h"
#include "score_file.h"

namespace {

constexpr std::string_view ScoresMark = "[Scores]";
constexpr std::string_view PlaysMark = "[Plays]";
constexpr std::string_view EndMark = "[End]";
constexpr std::string_view Separator = "----------";

// A line without its line end, CR LF as LF; false at the end of the text.
struct LineReader {
    const char *at;
    const char *end;

    bool Next(std::string_view &line)
    {
        if (at == end)
            return false;
        const char *lineEnd = std::find(at, end, '\n');
        line = std::string_view(at, size_t(lineEnd - at));
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        at = lineEnd == end ? end : lineEnd + 1;
        return true;
    }
};

struct Score {
    int chart;
    unsigned dpLost, day, month, year;
};

bool ReadScore(LineReader &in, std::string_view title, std::vector<Score> &scores)
{
    std::string_view date, dp, separator;
    if (!in.Next(date) || !in.Next(dp) || !in.Next(separator) || separator != Separator)
        return false;
    Score score{};
    const std::string dateText(date), dpText(dp);
    if (std::sscanf(dateText.c_str(), "%u/%u/%u", &score.day, &score.month, &score.year) != 3 ||
        std::sscanf(dpText.c_str(), "%u", &score.dpLost) != 1)
        return false;
    // A chart this build does not know (a title a newer table gave) has nowhere to go.
    if (const ChartRecord *chart = FindChartByName(std::string(title).c_str())) {
        score.chart = int(chart - ChartTable);
        scores.push_back(score);
    }
    return true;
}

// Fewer DP lost wins, a loss above the chart's DP counting as all of it; on a tie the later
// date: the order of the score file's merge.
void TakeBetter(RecoveredScores &recovered, const Score &score)
{
    const int i = score.chart;
    const uint16_t maxDp = ChartTable[i].maxDp;
    const auto rank = [maxDp](unsigned dpLost, unsigned year, unsigned month, unsigned day) {
        return std::pair(-int(CappedLoss(maxDp, uint16_t(dpLost))), year << 16 | month << 8 | day);
    };
    if (recovered.hasScore[i] && rank(score.dpLost, score.year, score.month, score.day) <=
                                     rank(recovered.dpLost[i], recovered.year[i], recovered.month[i], recovered.day[i]))
        return;
    recovered.hasScore[i] = true;
    recovered.dpLost[i] = uint16_t(score.dpLost);
    recovered.day[i] = uint8_t(score.day);
    recovered.month[i] = uint8_t(score.month);
    recovered.year[i] = uint16_t(score.year);
}

void AppendLine(std::string &text, std::string_view line)
{
    text.append(line);
    text.push_back('\n');
}

// The slot's own file name, from 1.
struct SlotName {
    char text[64];
    explicit SlotName(int slot) { std::snprintf(text, sizeof text, RecoveryFileNameFormat, slot + 1); }
};

bool CreateRecoveryFile(int slot, const char *text, size_t length, SaveFailure *failure)
{
    return CreateFileBeside(ScoreFileName, SlotName(slot).text, text, length, failure);
}

}  // namespace

void RecoveryFilePath(int slot, char (&path)[PATH_MAX])
{
    ShownPathBeside(ScoreFileName, SlotName(slot).text, path);
}

bool RemoveRecoveryFile(int slot, SaveFailure *failure)
{
    return RemoveFileBeside(ScoreFileName, SlotName(slot).text, failure);
}

bool ParseRecoveryText(const char *text, size_t length, RecoveredScores &recovered)
{
    LineReader in{text, text + length};
    std::string_view line;
    if (!in.Next(line) || line != RecoveryFileFirstLine || !in.Next(line) || !in.Next(line) || line != ScoresMark)
        return false;
    std::vector<Score> scores;
    while (in.Next(line) && line != PlaysMark)
        if (!ReadScore(in, line, scores))
            return false;
    const char *plays = in.at;
    const char *playsEnd = plays;
    bool ended = false;
    while (!ended && in.Next(line)) {
        ended = line == EndMark;
        playsEnd = ended ? playsEnd : in.at;
    }
    if (!ended)
        return false;
    PlayJournal journal;
    ParsePlayJournal(plays, size_t(playsEnd - plays), journal);
    for (const Score &score : scores)
        TakeBetter(recovered, score);
    recovered.plays.insert(recovered.plays.end(), journal.lines.begin(), journal.lines.end());
    return true;
}

bool WriteRecoveryFile(const bool (&unsaved)[ChartCount], const std::vector<PlayLine> &plays, char (&path)[PATH_MAX],
                       SaveFailure *failure)
{
    std::string text;
    AppendLine(text, RecoveryFileFirstLine);
    AppendLine(text, "Scores and plays a window could not save into Scores.txt and Plays.csv. The next window "
                     "opened in this folder takes them in and then removes this file.");
    AppendLine(text, ScoresMark);
    char piece[MaxPlayLineSize];
    for (int i = 0; i < ChartCount; ++i) {
        if (!unsaved[i])
            continue;
        const ChartRecord &chart = ChartTable[i];
        std::snprintf(piece, sizeof piece, "%s\n%02u/%02u/%04u\n%u\n", chart.name, unsigned(chart.day),
                      unsigned(chart.month), unsigned(chart.year), unsigned(chart.dpLost));
        text.append(piece);
        AppendLine(text, Separator);
    }
    AppendLine(text, PlaysMark);
    for (const PlayLine &play : plays)
        text.append(piece, FormatPlayLine(play, piece));
    AppendLine(text, EndMark);

    RecoveryFilePath(0, path);
    for (int slot = 0; slot < RecoverySlots; ++slot) {
        SaveFailure attempt;
        if (CreateRecoveryFile(slot, text.data(), text.size(), &attempt)) {
            RecoveryFilePath(slot, path);
            return true;
        }
        if (attempt.error != EEXIST) {
            if (failure != nullptr)
                *failure = attempt;
            return false;
        }
    }
    return SaveFailed(failure, EEXIST, "Every recovery file's name is taken, until the next window takes them in");
}

bool ReadRecoveryFiles(RecoveredScores &recovered)
{
    for (int slot = 0; slot < RecoverySlots; ++slot) {
        FileStatus status;
        FILE *file = OpenRegularFileBeside(ScoreFileName, SlotName(slot).text, MaxScoreFileSize, status);
        if (file == nullptr)
            continue;  // mostly missing; a file of another kind under the name is none of ours
        std::string text;
        char piece[16 * 1024];
        for (size_t got; (got = std::fread(piece, 1, sizeof piece, file)) > 0;)
            text.append(piece, got);
        const bool read = !std::ferror(file);
        std::fclose(file);
        if (read && ParseRecoveryText(text.data(), text.size(), recovered)) {
            recovered.found[slot] = true;
            if (recovered.files++ == 0)
                RecoveryFilePath(slot, recovered.firstPath);
        }
    }
    std::stable_sort(recovered.plays.begin(), recovered.plays.end(),
                     [](const PlayLine &a, const PlayLine &b) { return a.utcSeconds < b.utcSeconds; });
    return recovered.files > 0;
}

bool RemoveRecoveryFiles(const RecoveredScores &recovered, SaveFailure *failure)
{
    for (int slot = 0; slot < RecoverySlots; ++slot)
        if (recovered.found[slot] && !RemoveRecoveryFile(slot, failure))
            return false;
    return true;
}
