#pragma once

#include <climits>
#include <cstdio>

#include <sys/stat.h>

// The folder that holds the file a writer of name replaces: through a symbolic link, the folder
// of the file it points at; otherwise the folder the name lies in ("." for a bare name).
void FolderWrittenBy(const char *name, char (&folder)[PATH_MAX]);

// Writes a file so that a reader only ever sees the old or the complete new content: the text
// goes to "<name>.tmp" in the same directory, is flushed and synced, and only then renamed
// over the name. Any failure leaves the old file as it was and removes the temporary. A file
// the player may not write is refused, as an in-place rewrite would be, and a symbolic link
// is written through: the file it points at is replaced, the link stays.
//
// Where the folder refuses the temporary but the file itself may be written, the file is
// rewritten in place instead: the whole text is held back and written at once, then the file
// is cut to its length and synced. That is not crash-proof, but it saves rather than never.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const char *finalName);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter &) = delete;
    AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

    // A failed write is remembered; later writes are skipped and Commit yields false.
    void Print(const char *format, ...) __attribute__((format(printf, 2, 3)));

    // On success, written (when given) receives what the file is now: the rename and the
    // in-place rewrite both leave exactly what was synced.
    bool Commit(struct stat *written = nullptr);

    // errno of the first failure, 0 while there was none.
    int Error() const { return error_; }

private:
    void Fail(int error);
    void Discard();
    bool OpenInPlace();
    bool CommitInPlace(struct stat *written);

    char finalName_[PATH_MAX];
    char tempName_[PATH_MAX + 4];
    FILE *stream_ = nullptr;
    bool inPlace_ = false;
    int error_ = 0;
};
