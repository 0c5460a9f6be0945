#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "chart_table.h"
#include "dp_scoring.h"
#include "file_system.h"
#include "print_file.h"
#include "score_file.h"
#include "score_reading.h"

namespace {

// What changed less than this long ago may still be changing: a copy on a slow disk truncates
// first and writes a few tenths of a second later, a shell loop writes record by record.
constexpr int64_t SettleTime = 500'000'000;  // ns
// A file system that keeps whole seconds (FAT two of them) shows a time up to this much before
// the change.
constexpr int64_t WholeSecondsLate = 2'000'000'000;
constexpr auto PauseBeforeReadingAgain = std::chrono::milliseconds(100);
// Five pauses of the same file and bytes are half a second at rest, also for a file whose time
// lies ahead of a clock that was set back; twenty, two seconds, are the most a read waits.
constexpr int PausesAtRest = 5;
constexpr int MostPauses = 20;

void SleepBeforeReadingAgain()
{
    std::this_thread::sleep_for(PauseBeforeReadingAgain);
}

int64_t SystemNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void (*PauseBeforeReading)() = SleepBeforeReadingAgain;
int64_t (*Now)() = SystemNow;

// Scores.txt as this process last read it whole or wrote it: what a replace must still find
// there, and a text known to be whole.
struct SeenText {
    bool valid = false;    // read or written since start
    bool present = false;  // there was such a file
    std::unique_ptr<char[]> bytes;
    size_t length = 0;

    void Keep(const char *text, size_t count)
    {
        valid = present = true;
        bytes.reset(new char[count > 0 ? count : 1]);
        std::memcpy(bytes.get(), text, count);
        length = count;
    }

    void KeepMissing()
    {
        valid = true;
        present = false;
        length = 0;
    }

    bool Holds(const ScoreText &text) const
    {
        return present && text.length == length && std::memcmp(text.bytes.get(), bytes.get(), length) == 0;
    }
};

SeenText Seen;

struct OwnScore {
    uint16_t dpLost;
    uint8_t day;
    uint8_t month;
    uint16_t year;
};

OwnScore OwnScoreOf(const ChartRecord &chart)
{
    return {chart.dpLost, chart.day, chart.month, chart.year};
}

OwnScore NoScoreOf(const ChartRecord &chart)
{
    return {chart.maxDp, 0, 0, 0};
}

void PutBack(ChartRecord &chart, const OwnScore &score)
{
    chart.dpLost = score.dpLost;
    chart.day = score.day;
    chart.month = score.month;
    chart.year = score.year;
}

bool operator==(const OwnScore &a, const OwnScore &b)
{
    return a.dpLost == b.dpLost && a.day == b.day && a.month == b.month && a.year == b.year;
}

uint32_t DateKey(const OwnScore &score)
{
    return uint32_t(score.year) << 16 | uint32_t(score.month) << 8 | score.day;
}

// Fewer DP lost wins, a loss above maxDp counting as all of it; on a tie the later date.
bool IsBetter(const OwnScore &a, const OwnScore &b, uint16_t maxDp)
{
    const uint16_t lostA = CappedLoss(maxDp, a.dpLost);
    const uint16_t lostB = CappedLoss(maxDp, b.dpLost);
    return lostA != lostB ? lostA < lostB : DateKey(a) > DateKey(b);
}

// Per chart, the record Scores.txt held when this process last read or wrote it; no score
// where it named the chart in no record.
OwnScore LastKnown[ChartCount];
bool lastKnownSet = false;

OwnScore &KnownOf(int chart)
{
    if (!lastKnownSet) {
        for (int i = 0; i < ChartCount; ++i)
            LastKnown[i] = NoScoreOf(ChartTable[i]);
        lastKnownSet = true;
    }
    return LastKnown[chart];
}

// What a load may change, put back when a file is read again or refused.
struct TableFields {
    OwnScore own[ChartCount];
    uint16_t enemyDpLost[ChartCount];

    TableFields()
    {
        for (int i = 0; i < ChartCount; ++i) {
            own[i] = OwnScoreOf(ChartTable[i]);
            enemyDpLost[i] = ChartTable[i].enemyDpLost;
        }
    }

    void Restore() const
    {
        for (int i = 0; i < ChartCount; ++i) {
            PutBack(ChartTable[i], own[i]);
            ChartTable[i].enemyDpLost = enemyDpLost[i];
        }
    }
};

bool AtRest(const FileStamp &stamp)
{
    const int64_t late = stamp.wholeSeconds ? WholeSecondsLate : 0;
    return stamp.known && stamp.changedAt + late + SettleTime <= Now();
}

bool SameRead(const ScoreText &a, const ScoreText &b)
{
    return a.stamp == b.stamp && a.length == b.length && std::memcmp(a.bytes.get(), b.bytes.get(), a.length) == 0;
}

// A text is trusted whole when its file has been at rest for the settle time, when reads a
// moment apart keep finding the same file and bytes, or when it is the text this process last
// saw whole. Times only make the reader wait and read again; each read opens the file anew.
bool ReadSettled(ScoreFileOpener open, const void *name, LoadMode mode, ScoreText &text, ScoreFileStatus &status)
{
    if (!ReadScoreText(open, name, text, status))
        return false;
    int samePauses = 0;
    for (int pauses = 0;; ++pauses) {
        // an emptied file is what a copy that truncates first leaves for a moment
        const bool seenWhole = mode == LoadMode::Own && text.length > 0 && Seen.Holds(text);
        if (seenWhole || AtRest(text.stamp) || samePauses == PausesAtRest)
            return true;
        if (pauses == MostPauses) {
            status.refusal = ScoreFileRefusal::StillChanging;
            return false;
        }
        PauseBeforeReading();
        ScoreText again;
        if (!ReadScoreText(open, name, again, status))
            return false;
        samePauses = SameRead(text, again) ? samePauses + 1 : 0;
        text = std::move(again);
    }
}

RecordsRead ReadAndTake(ScoreFileOpener open, const void *name, LoadMode mode, ScoreFileStatus &status,
                        bool (&named)[ChartCount])
{
    std::fill(std::begin(named), std::end(named), false);
    ScoreText text;
    if (!ReadSettled(open, name, mode, text, status)) {
        if (mode == LoadMode::Own && status.refusal == ScoreFileRefusal::Missing)
            Seen.KeepMissing();
        return {};
    }
    if (mode == LoadMode::Own)
        Seen.Keep(text.bytes.get(), text.length);  // before UTF-16 turns into bytes in place
    return TakeRecords(text, mode, status, named);
}

// A day or month is two characters in the file, so the reader can find "-1" to "-9" there and
// keeps their low 8 bits, 255 to 247. Printed back as a signed byte such a value reads the same
// again ("-1"), instead of as "255", whose third digit would shift every later piece of the
// line; 0 to 99 print exactly as before.
int DatePieceValue(uint8_t piece)
{
    return static_cast<int8_t>(piece);  // 128..255 wrap to -128..-1
}

// Larger than any score file: 256 records of at most a 127-byte title, a 15-byte date, a 5-digit
// DP line and the separator, with their line ends.
constexpr size_t ScoreTextCapacity = 64 * 1024;

// Asked by the writer just before the replace: the file still holds what the merge read.
bool StillAsSeen(void *)
{
    ScoreText now;
    ScoreFileStatus status;
    if (!ReadScoreText(OpenNamed, ScoreFileName, now, status))
        return status.refusal == ScoreFileRefusal::Missing && !Seen.present;
    return Seen.Holds(now);
}

bool WriteScores(SaveFailure *failure, bool checked)
{
    if (LeadsToFileOf(ScoreFileName, PrintFileName, true))
        return RefuseOverwriting(failure, PrintFileName);
    const std::unique_ptr<char[]> text(new char[ScoreTextCapacity]);
    size_t length = 0;
    for (const ChartRecord &chart : ChartTable) {
        const int written = std::snprintf(text.get() + length, ScoreTextCapacity - length, "%s\n%02d/%02d/%04d\n%d\n----------\n",
                                          chart.name, DatePieceValue(chart.day), DatePieceValue(chart.month),
                                          chart.year, chart.dpLost);
        if (written < 0 || size_t(written) >= ScoreTextCapacity - length)
            return SaveFailed(failure, EFBIG);
        length += size_t(written);
    }
    ReplaceCheck check;
    if (checked && Seen.valid)
        check.stillAsRead = StillAsSeen;
    if (!WriteWholeFile(ScoreFileName, text.get(), length, SpecialTarget::Refuse, failure, check))
        return false;
    const std::string onDisk = WithSystemLineEnds(text.get(), length);  // as the writer put it there
    Seen.Keep(onDisk.data(), onDisk.size());
    for (int i = 0; i < ChartCount; ++i)
        KnownOf(i) = OwnScoreOf(ChartTable[i]);
    return true;
}

}  // namespace

int LoadScores(ScoreFileOpener open, const void *name, LoadMode mode, ScoreFileStatus &status,
               bool (&named)[ChartCount])
{
    const TableFields before;
    RecordsRead read = ReadAndTake(open, name, mode, status, named);
    if (read.cut) {
        before.Restore();
        PauseBeforeReading();
        read = ReadAndTake(open, name, mode, status, named);
    }
    if (status.refusal != ScoreFileRefusal::None)
        before.Restore();
    return read.matched;
}

void NoteOwnLoad(const bool (&named)[ChartCount])
{
    for (int i = 0; i < ChartCount; ++i)
        KnownOf(i) = named[i] ? OwnScoreOf(ChartTable[i]) : NoScoreOf(ChartTable[i]);
}

bool TakeBetterScore(ChartRecord &chart, uint16_t dpLost, uint8_t day, uint8_t month, uint16_t year)
{
    const OwnScore kept{dpLost, day, month, year};
    if (!IsBetter(kept, OwnScoreOf(chart), chart.maxDp))
        return false;
    PutBack(chart, kept);
    return true;
}

void SetPauseBeforeReadingAgain(void (*pause)())
{
    PauseBeforeReading = pause != nullptr ? pause : SleepBeforeReadingAgain;
}

void SetScoreFileClock(int64_t (*now)())
{
    Now = now != nullptr ? now : SystemNow;
}

void ForgetScoreFile()
{
    lastKnownSet = false;
    Seen = SeenText();
}

bool MergeOwnScoreFile(bool (&unsaved)[ChartCount], ScoreFileStatus &status)
{
    OwnScore before[ChartCount];
    for (int i = 0; i < ChartCount; ++i) {
        before[i] = OwnScoreOf(ChartTable[i]);
        ClearOwnScore(ChartTable[i]);
    }
    // A file that says nothing of a chart (missing, refused, naming none, or one that a crashed
    // editor left cut) is no reason to drop the chart's score: only another score is.
    bool named[ChartCount];
    const bool namedAChart = LoadScores(OpenNamed, ScoreFileName, LoadMode::Own, status, named) != 0;
    const bool fileRead = namedAChart && status.refusal == ScoreFileRefusal::None && !status.cut;
    bool changed = false;
    for (int i = 0; i < ChartCount; ++i) {
        ChartRecord &chart = ChartTable[i];
        const OwnScore none = NoScoreOf(chart);
        const OwnScore inFile = fileRead && named[i] ? OwnScoreOf(chart) : none;
        const bool changedElsewhere = !(inFile == none) && !(inFile == KnownOf(i));
        const bool takeFile = changedElsewhere && !(unsaved[i] && IsBetter(before[i], inFile, chart.maxDp));
        PutBack(chart, takeFile ? inFile : before[i]);
        unsaved[i] = !(OwnScoreOf(chart) == inFile);
        if (fileRead)
            KnownOf(i) = inFile;
        changed = changed || !(OwnScoreOf(chart) == before[i]);
    }
    return changed;
}

bool SaveScoreFile(SaveFailure *failure)
{
    return WriteScores(failure, false);
}

bool SaveMergedScoreFile(bool (&unsaved)[ChartCount], ScoreFileStatus &status, SaveFailure *failure, bool &merged)
{
    constexpr int MostWrites = 3;
    for (int writes = 1;; ++writes) {
        SaveFailure failed;
        if (WriteScores(&failed, true))
            return true;
        if (!failed.changedMeanwhile || writes == MostWrites) {
            if (failure != nullptr)
                *failure = failed;
            return false;
        }
        merged = MergeOwnScoreFile(unsaved, status) || merged;
        if (IsRefusal(status))
            return SaveFailed(failure, EAGAIN, DescribeRefusal(status).text);
    }
}
