#pragma once

// What the Windows files of storage share among themselves: file_system_windows.cpp (the reads
// and the replace), in_place_rewrite_windows.cpp, file_names_windows.cpp (names, links,
// folders), files_beside_windows.cpp, folder_lock_windows.cpp and play_journal_windows.cpp.
// Not for use above storage.

#include <cstddef>

#include <windows.h>

#include "file_system.h"

// Room for any path the wide calls take, long ones included.
constexpr DWORD WidePathSize = WideFolderSize;
using WidePath = wchar_t[WidePathSize];

// Bytes go to a file this many at a time, and are copied from one as many.
constexpr size_t PieceSize = 8192;

// The errno for a system error, for SaveFailure and the statuses.
int ErrnoOf(DWORD error);

// Names reach storage as the system's 8-bit text, the ANSI code page, as the C library's fopen
// takes them; the wide calls take them converted.
bool Widen(const char *name, WidePath &wide);

bool Fail(SaveFailure *failure, DWORD error);

// Opened for a look only: attributes, kind and the final path, links followed.
HANDLE OpenToLookAt(const wchar_t *name);
FileKind KindOf(HANDLE file);

// What goes between a folder and a name in it: nothing after a root's own backslash.
const wchar_t *Joint(const wchar_t *folder);

// LeadsToFileOf for wide names: the same volume and file index.
bool LeadsToFileOf(const wchar_t *name, const wchar_t *other, bool onlyThroughALinkOfName);

// For a message, in UTF-8 so that every character of the name survives, and without the
// "\\?\" prefix that final paths carry.
void NarrowForPlayer(const wchar_t *wide, char (&narrow)[PATH_MAX]);

// The folder as the player knows it: its full path.
void FullWidePathOf(const wchar_t *folder, WidePath &full);

// The folder part of path: "." for a bare name; a root keeps its backslash.
void FolderOf(const wchar_t *path, WidePath &folder);

// The file an open handle stands for, through links.
bool FinalPathOf(HANDLE file, WidePath &target);

// The name a save writes to: through links whose target does not exist yet, that target.
void FollowDanglingLinks(const wchar_t *name, WidePath &target);

// A file of our own beside target, "<target><kind>XXXXXX", made with CREATE_NEW.
HANDLE CreateTemporary(const wchar_t *target, WidePath &temporary, const wchar_t *kind);

// The old file's access list and attributes for the new text's file (attributes 0: a new file).
void TakeOverAccessAndAttributes(const wchar_t *target, DWORD attributes, HANDLE temporary);

// Backups that go by the archive attribute take the new text.
void MarkForBackup(const wchar_t *target);

bool MoveTo(HANDLE file, LONGLONG offset);

// Writes bytes a piece at a time; a pipe or a device (an overlapped handle) is given a second for
// all of them. done, when given, counts the bytes of the pieces written.
bool WritePieces(HANDLE file, const char *bytes, size_t size, bool overlapped = false, size_t *done = nullptr);

// Rewrites the existing regular file target with bytes in place, once the check holds; see the
// file.
bool RewriteInPlace(const wchar_t *target, const char *bytes, size_t size, SaveFailure *failure,
                    const ReplaceCheck &check);
