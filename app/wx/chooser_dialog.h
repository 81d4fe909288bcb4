// The directory chooser "パス設定" as a modal wx dialog: the drive box, the directory list
// and the path edit, shown and handled by DirectoryChooser.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/directory_chooser.h"

class wxWindow;

namespace lumbra::gui {

// Runs the chooser modally over `parent`, opened at `start` (empty: the current directory).
// The chosen path after OK, nullopt after Cancel; the current directory stays wherever the
// user went.
std::optional<std::string> RunDirectoryChooser(wxWindow* parent, const DriveSource& drives,
                                               std::string_view start);

}  // namespace lumbra::gui
