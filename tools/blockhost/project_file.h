// blockhost's project file: a short header of its own, then the block's
// settings exactly as the library's WriteToFile writes them.  The settings
// thus start at a non-zero offset, as they do inside a host's project.
//
//   blockhost project 1
//   block <name the library reports>
//   <the settings lines>
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "block_instance.h"
#include "block_settings.h"

namespace blockhost {

// The first line of every project file.
inline constexpr char kProjectMagic[] = "blockhost project 1";

// Reads the project into the block; throws InputError for a file that is not
// a project of this block or whose line ends a program has changed, and
// LibraryError for settings the block refuses.  With `fix_line_ends`, a file
// whose line ends were changed is read as if they were as blockhost writes
// them; saving it then mends the file.
void LoadProject(const std::string& path, const std::string& block_name, BlockInstance* block,
                 bool fix_line_ends = false);

// `text` with the line ends blockhost writes (LF after the two header
// lines, CR LF after each line of settings), whichever of LF, CR LF, CR CR
// LF or CR alone a program left; nothing when they are so already.
std::optional<std::string> MendedLineEnds(std::string_view text);
// Writes the block's settings as a complete project, replacing `path` only
// once everything is written.
void SaveProject(const std::string& path, const std::string& block_name, BlockInstance* block);

// What the block's WriteToFile writes: its settings lines, as in a project.
std::string SettingsBytes(BlockInstance* block);
// The block's current settings, taken from those lines.
BlockSettings ReadSettings(BlockInstance* block);
// Hands `settings` to the block through its ReadFromFile.
void ApplySettings(const BlockSettings& settings, BlockInstance* block);

}  // namespace blockhost
