#include "engine/naming/folder_template.h"

namespace engine {

namespace {

using Token = FolderTemplate::Token;

struct TokenText {
    std::string_view text;
    Token token;
};

// Longest first: "yyyy" before "yy".
constexpr TokenText kTokens[] = {
    {"yyyy", Token::Year4}, {"yy", Token::Year2}, {"mm", Token::Month},
    {"dd", Token::Day},     {"-", Token::Dash},   {"_", Token::Underscore},
};

bool IsDateToken(Token token)
{
    return token != Token::Dash && token != Token::Underscore;
}

std::size_t Width(Token token)
{
    switch (token) {
    case Token::Year4:
        return 4;
    case Token::Year2:
    case Token::Month:
    case Token::Day:
        return 2;
    default:
        return 1;
    }
}

} // namespace

std::optional<FolderTemplate> ParseFolderTemplate(std::string_view text, std::string& message)
{
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string.
    std::string quoted(1, '"');
    quoted.append(text).push_back('"');
    if (text.empty()) {
        message = "The folder template is empty.";
        return std::nullopt;
    }
    if (text.front() == '/' || text.back() == '/') {
        message = "The folder template " + quoted + " begins or ends with \"/\".";
        return std::nullopt;
    }
    if (text.size() > 200) {
        message = "The folder template is longer than 200 characters.";
        return std::nullopt;
    }
    FolderTemplate result;
    result.levels.emplace_back();
    for (std::size_t pos = 0; pos < text.size();) {
        if (text[pos] == '/') {
            if (result.levels.back().empty()) {
                message = "The folder template " + quoted + " has an empty level (\"//\").";
                return std::nullopt;
            }
            result.levels.emplace_back();
            ++pos;
            continue;
        }
        bool known = false;
        for (const TokenText& token : kTokens) {
            if (text.substr(pos, token.text.size()) == token.text) {
                result.levels.back().push_back(token.token);
                pos += token.text.size();
                known = true;
                break;
            }
        }
        if (!known) {
            std::size_t end = pos + 1;
            while (end < text.size() && text[end] != '/')
                ++end;
            message = "The folder template " + quoted + " has an unknown part \"" +
                      std::string(text.substr(pos, end - pos)) +
                      "\"; use yyyy, yy, mm, dd, \"-\", \"_\" and \"/\" between levels.";
            return std::nullopt;
        }
    }
    for (const auto& level : result.levels) {
        bool dated = false;
        for (const Token token : level)
            dated = dated || IsDateToken(token);
        if (!dated) {
            message = "Every level of the folder template " + quoted + " needs yyyy, yy, mm or dd.";
            return std::nullopt;
        }
    }
    return result;
}

FolderTemplate TemplateOfPattern(int dirPattern)
{
    FolderTemplate result;
    switch (dirPattern) {
    case 1:
        result.levels = {{Token::Year4, Token::Month}};
        break;
    case 3:
        result.levels = {{Token::Year4, Token::Month, Token::Day}};
        break;
    case 5:
        result.levels = {{Token::Year2, Token::Underscore, Token::Month, Token::Day}};
        break;
    case 7:
        result.levels = {{Token::Year2, Token::Month}};
        break;
    default:
        result.levels = {{Token::Year2, Token::Month, Token::Day}};
        break;
    }
    return result;
}

std::vector<std::string> TemplateFolderNames(const FolderTemplate& folders, const FileEntry& entry)
{
    std::vector<std::string> names;
    names.reserve(folders.levels.size());
    for (const auto& level : folders.levels) {
        std::string name;
        for (const Token token : level) {
            switch (token) {
            case Token::Year4:
                name += entry.Year4;
                break;
            case Token::Year2:
                name += entry.Year2;
                break;
            case Token::Month:
                name += entry.Month;
                break;
            case Token::Day:
                name += entry.Day;
                break;
            case Token::Dash:
                name += '-';
                break;
            case Token::Underscore:
                name += '_';
                break;
            }
        }
        names.push_back(std::move(name));
    }
    return names;
}

bool HasFirstLevelForm(const FolderTemplate& folders, std::string_view name)
{
    if (folders.levels.empty())
        return false;
    std::size_t pos = 0;
    for (const Token token : folders.levels.front()) {
        const std::size_t width = Width(token);
        if (name.size() - pos < width)
            return false;
        for (std::size_t i = 0; i < width; ++i) {
            const char c = name[pos + i];
            const bool ok = token == Token::Dash         ? c == '-'
                            : token == Token::Underscore ? c == '_'
                                                         : (c >= '0' && c <= '9');
            if (!ok)
                return false;
        }
        pos += width;
    }
    return pos == name.size();
}

} // namespace engine
