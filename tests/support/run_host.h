#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/file_list.h"
#include "engine/run_host.h"

namespace test {

// A front end for runs in tests: lists the folder as the window would and records what the
// run reports.
class FakeHost : public engine::RunHost {
public:
    explicit FakeHost(std::string folder) : folder_(std::move(folder)) {}

    std::string SourceFolder() override { return folder_; }
    std::vector<std::string> ListedNames() override
    {
        if (!names_.empty())
            return names_;
        std::error_code error;
        return engine::ListFolderFiles(folder_, error);
    }
    void SetProgress(int value) override
    {
        progress.push_back(value);
        if (onProgress)
            onProgress(value);
    }
    void Refresh() override { ++refreshes; }
    void SetBusy(bool busy) override { busyChanges.push_back(busy); }
    std::string DeskTopFolder() override
    {
        ++deskTopLookups;
        return deskTop;
    }
    std::string MyDocumentFolder() override
    {
        ++documentLookups;
        return documents;
    }
    void Stored(const std::string& source, const std::string& destination) override
    {
        stored.emplace_back(source, destination);
    }

    // Lists these names instead of the folder's files.
    void SetNames(std::vector<std::string> names) { names_ = std::move(names); }

    std::string deskTop, documents;
    int deskTopLookups = 0, documentLookups = 0, refreshes = 0;
    std::vector<int> progress;
    std::vector<bool> busyChanges;
    std::vector<std::pair<std::string, std::string>> stored;
    std::function<void(int)> onProgress;

private:
    std::string folder_;
    std::vector<std::string> names_;
};

} // namespace test
