#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/file_entry.h"

namespace engine {

// A date-folder template: one or more levels separated by "/", each built of the tokens
// "yyyy", "yy", "mm", "dd" and the characters "-" and "_" ("yyyy/mm/dd", "yyyy/yyyymmdd",
// "yyyy-mm"). Each level holds at least one date token, so every folder name is made of digits
// with "-" and "_" between them and can never be "." or "..".
struct FolderTemplate {
    enum class Token { Year4, Year2, Month, Day, Dash, Underscore };
    std::vector<std::vector<Token>> levels;
};

// Parses a template; on failure nothing, and message says what is wrong, for the user.
std::optional<FolderTemplate> ParseFolderTemplate(std::string_view text, std::string& message);

// The template that gives the same single folder as date-folder pattern dirPattern (1, 3, 4,
// 5, 7; anything else acts as 4).
FolderTemplate TemplateOfPattern(int dirPattern);

// The folder names of each level for a record's date.
std::vector<std::string> TemplateFolderNames(const FolderTemplate& folders, const FileEntry& entry);

// True when name has the form of the template's first level ("yymmdd": six digits), that is,
// may be a date folder a run made directly below its destination base.
bool HasFirstLevelForm(const FolderTemplate& folders, std::string_view name);

} // namespace engine
