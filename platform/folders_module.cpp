#include "platform/folders_module.h"

#include <cstring>
#include <string>

#include "platform/special_folders.h"

extern "C" __attribute__((visibility("default"))) long velmora_special_folder(int which, char* out,
                                                                              std::size_t capacity)
{
    try {
        std::string folder;
        if (which == VelmoraDesktopFolder)
            folder = platform::GetDeskTopFolder();
        else if (which == VelmoraDocumentsFolder)
            folder = platform::GetMyDocumentFolder();
        else
            return -1;
        if (folder.size() < capacity)
            std::memcpy(out, folder.c_str(), folder.size() + 1);
        return static_cast<long>(folder.size());
    } catch (...) { // allocation failures
        return -1;
    }
}

extern "C" __attribute__((visibility("default"))) int velmora_folders_interface(void)
{
    return VelmoraFoldersInterface;
}
