#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace settings {

// A value read from a profile is cut to this many bytes (the original read every key into a
// buffer of 256 bytes, the last one holding the terminating zero).
inline constexpr std::size_t ProfileValueLimit = 255;

// The longest prefix of `text` of at most `maxBytes` bytes that does not end inside a UTF-8
// character: a character that straddles the limit is left out whole.
std::string_view CutAtCharBoundary(std::string_view text, std::size_t maxBytes);

// The lines of one profile (INI) file, held in memory so that several keys can be read,
// written and removed before the file is written once.
//
// Syntax, as the system profile functions read it:
// - "[name]" starts a section (blanks before "[" and around the name are ignored; anything
//   after "]" is ignored). Lines before the first section belong to no section.
// - "key=value" is a key of the current section. Blanks around the key and around the value
//   are ignored; a value enclosed in a pair of double quotes loses them.
// - Every other line (comments, blank lines, text without "=") is kept but means nothing.
// - Section and key names compare without regard to ASCII letter case. When a section or a
//   key appears twice, the first one counts.
// Lines end in LF or CR LF when read, and in CR LF when written. A UTF-8 byte order mark at
// the start is kept.
class ProfileDocument {
public:
    ProfileDocument() = default;
    explicit ProfileDocument(std::string_view text);

    // The value of `key` in `section`, or `defaultValue` when either is missing; cut to
    // `limit` bytes (ProfileValueLimit unless told) at a character boundary.
    std::string Get(std::string_view section, std::string_view key,
                    std::string_view defaultValue = {},
                    std::size_t limit = ProfileValueLimit) const;

    // Writes key=value. An existing key line is replaced where it stands; a missing key is
    // added after the last key line of its section (right after the section line when it has
    // none); a missing section is added at the end, after a blank line when the file does not
    // already end in one. A value is written up to its first line break, and in double quotes
    // when it begins or ends with a blank or a double quote, so it reads back unchanged.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // Removes every line of `key` in `section`; nothing happens when there is none. Returns
    // whether a line was removed.
    bool Remove(std::string_view section, std::string_view key);

    // The whole file: every line followed by CR LF.
    std::string Text() const;

    const std::vector<std::string>& Lines() const { return lines_; }
    void EraseLine(std::size_t index);

private:
    struct SectionSpan {
        std::size_t header; // index of the "[name]" line
        std::size_t end;    // index one past its last line
    };
    std::optional<SectionSpan> FindSection(std::string_view section) const;

    std::vector<std::string> lines_;
    bool byteOrderMark_ = false;
};

// Reads a whole file. Returns nothing and sets `error` when it cannot be opened or read
// (ENOENT when it does not exist, EISDIR for a folder).
std::optional<std::string> ReadWholeFile(const std::string& file, std::error_code& error);

// Called once the new content is complete and flushed under a temporary name in the file's
// folder, just before it replaces the file. Returning false abandons the write (the temporary
// file is removed and the old file stays as it was). Tests use it to stop a write half-way.
using BeforeReplaceHook = std::function<bool(const std::string& temporaryFile)>;

// Replaces the content of `file` so that no reader ever sees it half-written or empty: the
// bytes go to a new hidden file in the same folder, which is flushed to disk and renamed over
// the old file; the folder is flushed after the rename. The new file keeps the old file's
// permission bits. When `file` is a symbolic link, the file it points to is replaced and the
// link stays. Returns false, leaving the old file untouched, when any step fails.
bool ReplaceFileAtomically(const std::string& file, std::string_view bytes,
                           const BeforeReplaceHook& beforeReplace = {});

// The document of `file`, to be changed and written back: empty when the file does not exist;
// nothing when it exists but cannot be read (it must not be replaced by a file that lost its
// content).
std::optional<ProfileDocument> LoadProfileForUpdate(const std::string& file);

// Single-call forms of the profile operations, each reading the file and (for the writes)
// replacing it atomically. A missing or unreadable file reads as empty. A write fails when the
// file exists but cannot be read (it is not replaced by a file that would lose its content).
std::string ReadProfileString(const std::string& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue = {});
bool WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value);
bool RemoveProfileKey(const std::string& file, std::string_view section, std::string_view key);

} // namespace settings
