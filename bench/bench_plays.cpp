// The interactions as the player feels them, each with its repaint, played by brisko_play
// (bench/play.cpp) in a process of its own: their instructions under callgrind and their wall
// time, against a 60 Hz frame.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "bench.h"

namespace bench {

namespace {

constexpr int PlayRuns = 200;
constexpr int CountedPlayRuns = 20;  // under callgrind, some 50 times slower
constexpr int CompareSessions = 21;
constexpr double FrameMs = 1000.0 / 60;
constexpr const char *PlayFolder = "plays";

// "NAME MS" lines, as brisko_play prints them.
double Reported(const std::string &text, const std::string &name)
{
    const size_t at = text.find(name + " ");
    if (at == std::string::npos)
        Fail("brisko_play reported no " + name);
    return std::atof(text.c_str() + at + name.size() + 1);
}

// The instructions of each interaction: callgrind collects only the plays and dumps a profile
// for each interaction, named after it, with the sum of its runs.
std::vector<std::pair<std::string, double>> CountPlays()
{
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr)
        Fail("getcwd");
    const std::string profile = std::string(here) + "/callgrind.play";
    Output({"valgrind", "--tool=callgrind", "--fair-sched=yes", "--collect-atstart=no",
            "--callgrind-out-file=" + profile, SiblingProgram("brisko_play"), "plays", std::to_string(CountedPlayRuns)},
           PlayFolder);
    std::vector<std::pair<std::string, double>> counts;
    for (int dump = 1;; ++dump) {
        const std::string file = profile + "." + std::to_string(dump);
        FILE *stream = std::fopen(file.c_str(), "r");
        if (stream == nullptr)
            break;
        std::string name;
        double total = -1;
        char line[512];
        while (std::fgets(line, sizeof line, stream) != nullptr) {
            unsigned long long count = 0;
            char trigger[128];
            if (std::sscanf(line, "desc: Trigger: Client Request: %127s", trigger) == 1)
                name = trigger;
            if (std::sscanf(line, "summary: %llu", &count) == 1)
                total = double(count);
        }
        std::fclose(stream);
        std::remove(file.c_str());
        counts.emplace_back(name, name == "first-compare" ? total : total / CountedPlayRuns);
    }
    std::remove(profile.c_str());
    return counts;
}

}  // namespace

void BenchPlays()
{
    // The plays insert scores: they start from a copy of the score file, beside the rival's
    // file, another player's with every chart scored.
    if (std::system("mkdir -p plays && cp Scores.txt plays/Scores.txt && cp Scores.txt plays/Rival.txt") != 0)
        Fail("cannot make the plays' folder");
    LetFilesRest();
    const std::vector<std::pair<std::string, double>> counts = CountPlays();
    const auto count = [&counts](const std::string &name) {
        for (const auto &[play, instructions] : counts)
            if (play == name)
                return instructions;
        Fail("no count of " + name);
    };
    const std::string walls = Output({SiblingProgram("brisko_play"), "plays", std::to_string(PlayRuns)}, PlayFolder);
    Samples first, later;
    for (int session = 0; session < CompareSessions; ++session) {
        const std::string text = Output({SiblingProgram("brisko_play"), "first"}, PlayFolder);
        first.values.push_back(Reported(text, "first-compare"));
        later.values.push_back(Reported(text, "later-compare"));
    }
    static const Named Plays[] = {
        {"keystroke", "Keystroke in an entry field ('1' and Backspace by turns)"},
        {"header-sort", "Header sort (Rank and % by turns)"},
        {"insert", "Insert, with its synced save"},
        {"file-print", "File Print"},
        {"full-compare", "Compare a full rival file, after the first (click, name, Enter, the list refilled)"},
        {"later-compare", "Compare after the first, click to the dialog's first frame"},
    };
    std::vector<std::string> &lines = PlayRows;
    lines.push_back("| Interaction, handler and repaint | Instructions | Wall, median | Of a 60 Hz frame | Budget | Within budget |");
    lines.push_back("|---|---:|---:|---:|---|---|");
    for (const Named &play : Plays) {
        const double ms = Reported(walls, play.key);
        lines.push_back(Cells({play.says, Printed("%.2f M", count(play.key) / 1e6), Printed("%.2f ms", ms),
                               Printed("%.0f %%", ms / FrameMs * 100), "-", "(reported)"}));
    }
    const bool within = first.Median() < FrameMs;
    PlaysWithin = within;
    lines.push_back(Cells({Printed("**Compare, the first of a session**, click to the dialog's first frame (wall: median of "
                                   "%.0f sessions; a later one in them: %.2f ms)",
                                   CompareSessions, later.Median()),
                           Printed("%.2f M", count("first-compare") / 1e6), Printed("%.2f ms", first.Median()),
                           Printed("%.0f %%", first.Median() / FrameMs * 100), Printed("median < %.1f ms", FrameMs),
                           Verdict(within)}));
    lines.push_back(Printed("\nInstructions: callgrind --fair-sched=yes, collecting the plays alone, the mean of %.0f plays "
                            "(the first Compare: one, after the window has been idle); wall: median of %.0f plays, "
                            "on the same display as the starts.",
                            CountedPlayRuns, PlayRuns));
}

}  // namespace bench
