// libFuzzer entry: every input is a score file. The checks run in a private directory, since
// the own load and the save always use "Scores.txt" in the current directory.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "score_file_round_trip.h"

namespace {

char WorkDir[4096];

void RemoveWorkDir()
{
    if (WorkDir[0] == 0 || chdir("/") != 0)
        return;
    std::string dir(WorkDir);
    unlink((dir + "/Scores.txt").c_str());
    rmdir(WorkDir);
}

ScoreFileRoundTrip *RoundTrip = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *tmp = std::getenv("TMPDIR");
    std::snprintf(WorkDir, sizeof WorkDir, "%s/brisko-fuzz-XXXXXX", tmp != nullptr && *tmp != 0 ? tmp : "/tmp");
    if (mkdtemp(WorkDir) == nullptr || chdir(WorkDir) != 0) {
        std::perror("brisko fuzz: private directory");
        std::abort();
    }
    std::atexit(RemoveWorkDir);
    RoundTrip = new ScoreFileRoundTrip;  // lives for the whole run; the table is still pristine here
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string failure = RoundTrip->Check(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "score file check failed: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
