#pragma once

// What the POSIX files of the file layer share among themselves: file_system_posix.cpp (the
// replace through a temporary, the reads), file_names_posix.cpp (links, folders, the names of
// files beside another), files_beside_posix.cpp (new files made whole, and removed),
// in_place_rewrite_posix.cpp (the rewrite of the file itself, with a copy of its old text beside
// it), file_attributes_posix.cpp (extended attributes and ACLs carried over to the temporary)
// and folder_lock_posix.cpp; play_journal_posix.cpp uses them too. Not for use above storage.

#include <cstddef>

#include <sys/stat.h>
#include <sys/types.h>

#include "file_system.h"
#include "writer_seams.h"

// The folder part of path: "." for a bare name, "/" for a name in the root.
void DirectoryOf(const char *path, char (&directory)[PATH_MAX]);

// The file name leads to through symbolic links, whether or not it exists; false, with errno,
// for a loop or a path too long.
bool ResolveTarget(const char *name, char (&target)[PATH_MAX]);

// Writes all of text; a pipe or a device that is full is waited for until the deadline (a
// CLOCK_MONOTONIC time in milliseconds; 0: never waited for), then EAGAIN. What was written
// before a failure is counted in total.
bool WriteAll(int fd, const char *text, size_t length, size_t &total, long long deadline = 0);
bool WriteAll(int fd, const char *text, size_t length);
bool ReadAll(int fd, char *into, size_t length);
bool CloseChecked(int fd);
long long MonotonicMilliseconds();

// Opening never waits: not on a named pipe without a reader, not on a device.
int OpenForWriting(const char *target, int access);

bool Fail(SaveFailure *failure, int error);

FileKind FileKindOf(mode_t mode);

// The file's mode decides, for root as well, whom the system would let write anyway.
bool MadeReadOnly(const struct stat &info);

// The mode of a file the program makes: as the umask leaves it, but never without the owner's
// right to read and write it.
mode_t ModeForNewFile();

// Makes a file of our own under "<base><suffix>XXXXXX", with O_EXCL and mode 0600.
int CreateOwnFile(const char *base, const char *suffix, char (&name)[PATH_MAX]);

// Makes the rename (or the new file) durable: the folder's entry reaches the disk. Yields 0,
// or the errno of a sync that failed; a file system that syncs no folder is no failure.
int SyncFolderOf(const char *path);

// Rewrites the existing regular file target in place, once the check holds; see the file.
bool RewriteInPlace(const char *target, const char *text, size_t length, SaveFailure *failure,
                    const ReplaceCheck &check);

// Copies every extended attribute of the file from (a POSIX ACL among them) to the open file
// to. False, with errno, where one of them cannot be set there: the file must then be
// rewritten in place, or the copy would lose it. A file system without them is no failure.
bool CopyExtendedAttributes(const char *from, int to);
