// Which icon stands for an application chosen by its program file: the icon of the installed application
// whose desktop entry starts that program.
#pragma once

#include <string>
#include <vector>

namespace quorvane {

/// The folders that hold desktop entries' "applications" folders, most important first: $XDG_DATA_HOME
/// (else ~/.local/share), then each folder of $XDG_DATA_DIRS (else /usr/local/share and /usr/share).
std::vector<std::string> xdg_data_folders();

/// The first word of a desktop entry's Exec value, without its quotes; empty when there is none.
std::string exec_program(const std::string& exec);

/// The Icon value (a theme name or an absolute path) of the first desktop entry under
/// `<folder>/applications` of `data_folders` whose Exec starts `program` (the same file, a name found on
/// PATH included); empty when no entry does or the entry has no icon. Hidden entries are skipped.
std::string desktop_icon_for_program(const std::string& program,
                                     const std::vector<std::string>& data_folders);

}  // namespace quorvane
