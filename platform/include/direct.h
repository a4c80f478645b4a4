// Folder calls of the C runtime that glibc does not have.
#pragma once

// Makes one folder level; 0 on success, -1 with errno (EEXIST when it is already there). The
// name follows the Windows rule ('\' separators; existing parent folders matched in any case).
int _mkdir(const char* name);
