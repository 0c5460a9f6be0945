// libFuzzer entry: every input is a play journal's content. Only the parser runs: no file.
#include <cstdio>
#include <cstdlib>

#include "play_journal_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string failure = CheckPlayJournal(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "play journal check failed: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
