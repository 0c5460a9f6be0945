#pragma once

// What the Windows files of storage share among themselves: file_system_windows.cpp (the
// writer and the reads) and play_journal_windows.cpp. Not for use above storage.

#include <windows.h>

#include "file_system.h"

// Room for any path the wide calls take, long ones included.
constexpr DWORD WidePathSize = WideFolderSize;
using WidePath = wchar_t[WidePathSize];

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
