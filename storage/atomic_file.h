#pragma once

#include <cstddef>

#include "file_system.h"

// Writes a file so that a reader only ever sees the old or the complete new content. The whole
// text is formatted in memory first; Commit then writes it to a temporary of our own, made
// beside the file with a name no one else uses, makes it durable and only then puts it in the
// file's place. Symbolic links are followed, also to a file not made yet, and stay links. A
// file the player may not write is refused, and any failure leaves the old file as it was.
//
// Where the folder refuses the temporary but the file itself may be written, the file is
// rewritten in place instead, once room for the whole new text has been reserved; that is not
// crash-proof, but no full disk can cut it. With SpecialTarget::WriteInto, a named pipe or a
// device is written into and never replaced.
class AtomicFileWriter {
public:
    AtomicFileWriter(const char *finalName, SpecialTarget special);
    AtomicFileWriter(const AtomicFileWriter &) = delete;
    AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

    // Appends to the text. A text that outgrows the buffer makes Commit fail.
    void Print(const char *format, ...) __attribute__((format(printf, 2, 3)));

    // Writes the text; false, with failure filled in when given, if it did not reach the file.
    // The check, when given, is asked just before the text takes the file's place.
    bool Commit(SaveFailure *failure = nullptr, const ReplaceCheck &check = {});

private:
    // Larger than any score or print file (at most 41 KiB and 17 KiB).
    static constexpr size_t TextCapacity = 64 * 1024;

    const char *finalName_;
    SpecialTarget special_;
    size_t length_ = 0;
    bool overflow_ = false;
    char text_[TextCapacity];
};
