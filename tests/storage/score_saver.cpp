// Saves "Scores.txt" in the given directory over and over, a new version of the scores each
// time, until it is killed. Writes one byte to its standard output once the first save is
// complete, so the killer knows there is a whole file to expect.
#include <cstdio>

#include <unistd.h>

#include "chart_table.h"
#include "score_file.h"
#include "score_versions.h"

int main(int argc, char *argv[])
{
    if (argc != 2 || chdir(argv[1]) != 0) {
        std::fprintf(stderr, "usage: score_saver DIRECTORY\n");
        return 2;
    }
    ChartOrder order{};
    InitChartTable(&order);
    for (uint32_t version = 1; version <= LastScoreVersion; ++version) {
        ApplyScoreVersion(version);
        if (!SaveScoreFile()) {
            std::perror("score_saver: save failed");
            return 3;
        }
        if (version == 1 && (std::fputs("1", stdout) == EOF || std::fflush(stdout) != 0))
            return 4;
    }
    return 0;  // never reached within the few milliseconds before the kill
}
