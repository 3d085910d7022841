#include "platform/folders_client.h"

#include <dlfcn.h>
#include <mutex>

#include "platform/folders_module.h"
#include "platform/trusted_module.h"

namespace platform {

std::string SpecialFolderFromModule(bool desktop, std::string& problem)
{
    static std::once_flag once;
    static VelmoraSpecialFolder ask = nullptr;
    static std::string loadProblem;
    std::call_once(once, [] {
        void* module = LoadTrustedModule("velmora-folders.so", "velmora_folders_interface",
                                         VelmoraFoldersInterface, loadProblem);
        if (module != nullptr)
            ask = reinterpret_cast<VelmoraSpecialFolder>(::dlsym(module, "velmora_special_folder"));
        if (module != nullptr && ask == nullptr)
            loadProblem = "velmora-folders.so has no velmora_special_folder";
    });
    if (ask == nullptr) {
        problem = loadProblem;
        return {};
    }
    const int which = desktop ? VelmoraDesktopFolder : VelmoraDocumentsFolder;
    std::string folder(256, '\0');
    long size = ask(which, folder.data(), folder.size());
    if (size >= static_cast<long>(folder.size())) { // more room, once: the answer is known now
        folder.assign(static_cast<std::size_t>(size) + 1, '\0');
        size = ask(which, folder.data(), folder.size());
    }
    if (size < 0 || size >= static_cast<long>(folder.size())) {
        problem = "velmora-folders.so could not tell the " +
                  std::string(desktop ? "Desktop" : "Documents") + " folder";
        return {};
    }
    folder.resize(static_cast<std::size_t>(size));
    return folder;
}

} // namespace platform
