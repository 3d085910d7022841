#pragma once

#include <cstddef>

// The interface of the folders module (velmora-folders.so, built from folders_module.cpp and
// special_folders.cpp, with Qt): the Desktop and Documents folders exactly as the window finds
// them (platform::GetDeskTopFolder, GetMyDocumentFolder). velmora-cli loads it only when a run
// needs one of those folders, so that it starts without loading Qt. Plain C: no exception and
// no C++ object crosses it.
extern "C" {

enum { VelmoraDesktopFolder, VelmoraDocumentsFolder };

// The module's build of this interface; a program loads only a module of its own.
enum { VelmoraFoldersInterface = 1 };

// Writes the folder which (VelmoraDesktopFolder or VelmoraDocumentsFolder) into out, with a
// closing zero byte, when it fits in capacity bytes; an empty text when the system knows none.
// Returns the folder's length in bytes without the zero byte (which may be capacity or more:
// ask again with more room), or -1 when it cannot be had (an unknown which, no memory).
long velmora_special_folder(int which, char* out, std::size_t capacity);
using VelmoraSpecialFolder = long (*)(int, char*, std::size_t);
int velmora_folders_interface(void);
}
