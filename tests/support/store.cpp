#include "tests/support/store.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "engine/base/path_text.h"

namespace test {

namespace {

template <typename StoreCall>
engine::StoreResult InFolderOf(const std::string& destination, StoreCall store)
{
    const std::string folder = engine::FolderOfPath(destination);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        engine::StoreResult failed;
        failed.status = engine::StoreResult::Status::Failed;
        failed.error.assign(errno, std::generic_category());
        failed.errorPath = destination;
        failed.step = "create";
        return failed;
    }
    engine::StoreResult result =
        store(engine::FolderHandle{fd, folder, engine::CreationUmask(fd, engine::ProcessUmask())},
              engine::NameOfPath(destination));
    ::close(fd);
    return result;
}

} // namespace

engine::StoreResult CopyTo(const std::string& source, const std::string& destination, bool durable)
{
    return InFolderOf(destination,
                      [&](const engine::FolderHandle& folder, const std::string& name) {
                          return engine::StoreCopy(source, folder, name, durable);
                      });
}

engine::StoreResult MoveTo(const std::string& source, const std::string& destination)
{
    return InFolderOf(destination,
                      [&](const engine::FolderHandle& folder, const std::string& name) {
                          engine::StoreResult moved = engine::StoreMove(source, folder, name, true);
                          if (!moved.sourceLeft)
                              return moved;
                          return engine::RemoveMovedSource(source, moved.copied, destination);
                      });
}

} // namespace test
