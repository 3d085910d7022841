#pragma once

#include <string>

namespace platform {

// Loads one of the program's own modules (velmora-exiv2.so, velmora-folders.so) and returns its
// dlopen handle, which stays loaded for the life of the process.
//
// A module is taken from the program's own tree only: where it is installed relative to the
// program (../lib/velmora beside an installed program), else beside the program (a build tree,
// a folder the program was copied to). The file and its folder must be owned by root or by the
// owner of the running program and not be writable by everyone; the file is loaded through the
// descriptor that was checked, not its name, which may change meanwhile; and its
// interfaceSymbol (a function int(void)) must answer interfaceVersion. A place that fails a
// check is passed over for the next one.
//
// Returns nullptr when no place holds a module that passes, with problem set to a sentence that
// names the module and the cause (for every place tried); problem is left alone otherwise.
// Standard library and libdl only: the engine's programs use it without Qt.
void* LoadTrustedModule(const std::string& fileName, const char* interfaceSymbol,
                        int interfaceVersion, std::string& problem);

} // namespace platform
