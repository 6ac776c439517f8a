// blockhost's project file: a short header of its own, then the block's
// settings exactly as the library's WriteToFile writes them.  The settings
// thus start at a non-zero offset, as they do inside a host's project.
//
//   blockhost project 1
//   block <name the library reports>
//   <the settings lines>
#pragma once

#include <string>

#include "block_instance.h"
#include "block_settings.h"

namespace blockhost {

// The first line of every project file.
inline constexpr char kProjectMagic[] = "blockhost project 1";

// Reads the project into the block; throws InputError for a file that is not
// a project of this block and LibraryError for settings the block refuses.
void LoadProject(const std::string& path, const std::string& block_name, BlockInstance* block);
// Writes the block's settings as a complete project, replacing `path` only
// once everything is written.
void SaveProject(const std::string& path, const std::string& block_name, BlockInstance* block);

// The block's current settings, taken from what its WriteToFile writes.
BlockSettings ReadSettings(BlockInstance* block);
// Hands `settings` to the block through its ReadFromFile.
void ApplySettings(const BlockSettings& settings, BlockInstance* block);

}  // namespace blockhost
