#pragma once

#include <string>

#include "engine/storing/file_store.h"

namespace test {

// The engine's stores take an open destination folder; these take a destination path and
// open its folder for the one call. A folder that cannot be opened fails like a store.
engine::StoreResult CopyTo(const std::string& source, const std::string& destination, bool durable);

// A whole move: after a copy to another file system the source is removed as a run removes
// it (RemoveMovedSource), and a failure there is the result.
engine::StoreResult MoveTo(const std::string& source, const std::string& destination);

} // namespace test
