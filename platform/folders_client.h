#pragma once

#include <string>

namespace platform {

// The Desktop folder (desktop true) or the Documents folder, as GetDeskTopFolder and
// GetMyDocumentFolder give it to the window, asked of the folders module velmora-folders.so,
// which is loaded (with Qt) at the first call only, from the program's own tree (see
// LoadTrustedModule). Qt-free: a program that never needs these folders never loads Qt.
// Absolute without a trailing separator, or empty when the system knows none. When the module
// cannot be loaded or cannot answer, the result is empty and problem a sentence naming the
// module and the cause; problem is left alone otherwise.
std::string SpecialFolderFromModule(bool desktop, std::string& problem);

} // namespace platform
