#pragma once

// The score file's text as bytes become lines, the same on every system: a byte-order mark
// skipped, UTF-16 read as the same text, the old end-of-file mark (Ctrl+Z) at the end dropped,
// and lines read as fgets reads them from a buffer of a fixed size, CR LF as LF. What the lines
// mean is score_file.cpp's.

#include <cstddef>

constexpr int LineBufferSize = 128;
using LineBuffer = char[LineBufferSize];

// The text as fgets reads a stream, with the stream's end-of-file indicator.
struct TextStream {
    const char *at;
    const char *end;
    bool ranIntoEnd = false;
    size_t lineLength = 0;  // the bytes of the last line before its CR and LF run, NULs included
};

// The records' text in a file's bytes: past a byte-order mark, UTF-16 turned into bytes in
// place (length shrinks with it), and without a Ctrl+Z at its very end.
TextStream RecordText(char *bytes, size_t &length);

// One line as fgets gives it from a 128-byte buffer: the characters up to and with the next
// line feed, but at most 127 of them; then without its trailing CR and LF run. False once the
// read ran into the end of the text: that text is not used.
bool ReadLine(TextStream &in, LineBuffer &line);

// A text of nothing but line ends is as empty as one of no bytes.
bool HoldsText(const TextStream &in);
