#pragma once

// The file layer: what storage asks of the system, behind one small interface that knows
// nothing of what the files hold. POSIX in file_system_posix.cpp and the *_posix.cpp files
// beside it (see posix_calls.h), Windows in file_system_windows.cpp and the *_windows.cpp files
// beside it (see windows_calls.h); what is the same on both in file_system.cpp. The score file's
// text, its records, the merge and the journal's lines stay above it, the same on every system.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif

#ifdef _WIN32
// Room for any path the wide calls of Windows take.
constexpr unsigned WideFolderSize = 4096;
// A name as the system's calls take it: wide on Windows, so that no character is lost on the way.
using NativePath = wchar_t[WideFolderSize];
#else
using NativePath = char[PATH_MAX];
#endif

// What stands between a folder and a name in it in a message: "\\" on Windows, "/" elsewhere.
extern const char FolderSeparator[];

enum class FileKind : uint8_t { Regular, Directory, NamedPipe, Device, Socket, Other };

// "Is a named pipe", "Is a device", ... for what is no regular file.
const char *FileKindText(FileKind kind);

// Why a file above its bound was not read, into text: its size, or where it grew past the bound
// as it was read (size -1), the bound; "far more than any <what>".
void DescribeTooLarge(char *text, size_t capacity, int64_t size, int64_t bound, const char *what);

// Why a save or a print did not reach its file: the errno of the first failure, and a reason
// for the player in UTF-8 ("Permission denied", "Is a named pipe", "No temporary file could be made in
// synced: No such file or directory").
struct SaveFailure {
    int error = 0;
    bool changedMeanwhile = false;  // the check below said no: the file changed since it was read
    char reason[PATH_MAX + 128] = {};
};

// Asked at the last moment before the new text takes the file's place (before the rename, or
// before the first byte of an in-place rewrite): false when the file no longer holds what the
// text was made from. Nothing is then written, and the failure says changedMeanwhile, so that
// the caller can merge again and write once more.
struct ReplaceCheck {
    bool (*stillAsRead)(void *context) = nullptr;
    void *context = nullptr;

    bool Holds() const { return stillAsRead == nullptr || stillAsRead(context); }
};

// The failure behind a check that did not hold.
bool ChangedMeanwhile(SaveFailure *failure);

// Fills in the failure, when given, with the reason or else the error's own text, and yields
// false, for a plain "return SaveFailed(...)".
bool SaveFailed(SaveFailure *failure, int error, const char *reason = nullptr);

// What a writer does with a name that stands for something other than a regular file.
enum class SpecialTarget : uint8_t {
    Refuse,     // only a regular file is ever replaced
    WriteInto,  // a named pipe or a device gets the text, as opening it for writing would do
};

enum class FileRefusal : uint8_t {
    None,        // opened
    Missing,     // there is no such file
    NotRegular,  // a named pipe, device, socket or directory: never opened
    TooLarge,    // above the bound the caller gave
    Unreadable,  // opening or reading failed; error holds the reason
};

// What an open for reading found, or why it refused.
struct FileStatus {
    FileRefusal refusal = FileRefusal::None;
    int error = 0;                      // errno behind Missing and Unreadable
    FileKind kind = FileKind::Regular;  // what the file is, behind NotRegular
    int64_t size = 0;                   // the size behind TooLarge; -1 once it grew past the bound as it was read
};

// Why a file was not read, into text: the kind, the size against bound ("far more than any
// <what>"), or the error's own text; empty for None and Missing.
void DescribeFileRefusal(const FileStatus &status, int64_t bound, const char *what, char *text, size_t capacity);

// Opens a file for reading, without ever waiting: only a regular file of at most maxSize bytes.
// Anything else yields nullptr with status telling why. The stream reads the bytes as they
// stand in the file, CR LF included, on every system.
FILE *OpenRegularFile(const char *name, int64_t maxSize, FileStatus &status);
#ifdef _WIN32
FILE *OpenRegularFile(const wchar_t *name, int64_t maxSize, FileStatus &status);
#endif

// The line end a file gets on this system: "\r\n" on Windows, "\n" elsewhere.
extern const char LineEndOnDisk[];

// text with each "\n" as the system's line end: the bytes a writer puts on the disk.
std::string WithSystemLineEnds(const char *text, size_t length);

// Writes text as the whole new content of the named file, so that a reader only ever sees the
// old or the complete new content, and any failure leaves the old file as it was; see
// AtomicFileWriter. Each "\n" becomes the system's line end.
bool WriteWholeFile(const char *name, const char *text, size_t length, SpecialTarget special, SaveFailure *failure,
                    const ReplaceCheck &check = {});
#ifdef _WIN32
// The same for a name the player chose in a dialog, as the system's wide calls take it.
bool WriteWholeFile(const wchar_t *name, const char *text, size_t length, SpecialTarget special, SaveFailure *failure,
                    const ReplaceCheck &check = {});
#endif

#ifdef _WIN32
// FolderWrittenBy as Windows names the folder: wide, so that no character is lost on the way.
void WideFolderWrittenBy(const char *name, wchar_t (&folder)[WideFolderSize]);
#endif

// A folder as the player knows it, for a message: a relative one joined to the current
// directory, so that no message names the folder ".". Once that directory is removed the
// system names it no more; the name it had at the last read or save of a file is taken then.
void FullPathOf(const char *folder, char (&full)[PATH_MAX]);

// Remembers the current directory's full name for FullPathOf. Every open for reading and every
// whole write calls it, the first at start, so that a folder removed later is still named.
void RememberCurrentDirectory();

// True where writing name would write over other, another of the program's own files: both
// lead through links to one file (the same device and inode, or the same name where neither
// exists yet). With onlyThroughALinkOfName, true only where name is a symbolic link and other
// is that file itself: the file then belongs to other, and name's link to it is the mistake.
// Two hard links are alike, and then neither owns the file.
bool LeadsToFileOf(const char *name, const char *other, bool onlyThroughALinkOfName);

// Fills in failure for an in-place rewrite that failed: damaged where the old text could not be
// put back; copy, where not empty, the full path of the copy of the old text kept beside it.
bool FailRewrite(SaveFailure *failure, int error, bool damaged, const char *copy);

// Fills in failure: "Leads to the same file as <other>, which it would overwrite"; yields false.
bool RefuseOverwriting(SaveFailure *failure, const char *other);

// The folder that holds the file a writer of name writes: through symbolic links, the folder
// of the file they point at, whether or not that file exists yet; otherwise the folder the
// name lies in ("." for a bare name).
void FolderWrittenBy(const char *name, char (&folder)[PATH_MAX]);

// Files that lie beside another (a journal, a recovery file): name in the folder that a writer
// of owner writes into, through owner's links. Wide from the folder to the call on Windows.
FILE *OpenRegularFileBeside(const char *owner, const char *name, int64_t maxSize, FileStatus &status);

// The name of the file beside owner as the system's calls take it; false where it would not fit.
bool PathBeside(const char *owner, const char *name, NativePath &path);

// Makes the file beside owner new, with text (each "\n" the system's line end) and mode 0600,
// and syncs it and its folder's entry. Fails with EEXIST where the name is taken (a link there,
// even a dangling one, counts), without touching what is there; removes what it made of a
// text that did not reach the disk whole.
bool CreateFileBeside(const char *owner, const char *name, const char *text, size_t length, SaveFailure *failure);

// Removes the file beside owner; one that is gone already is no failure.
bool RemoveFileBeside(const char *owner, const char *name, SaveFailure *failure);

// The full name of the file beside owner, UTF-8, for a message; name alone where the whole is
// too long.
void ShownPathBeside(const char *owner, const char *name, char (&path)[PATH_MAX]);
