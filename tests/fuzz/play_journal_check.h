#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One journal, as a spreadsheet or a crash may leave it, through the reader: parsed whole, and
// parsed again after a first read of only its first bytes (as a journal that grew between two
// reads), which must come to the same lines. Every line read is written again and read back
// unchanged. Empty when every check held, else what broke.
std::string CheckPlayJournal(const uint8_t *data, size_t size);
