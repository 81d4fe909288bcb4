// The excluded-domain window "保存禁止　ドメイン名設定" as a modal wx dialog: the sorted list
// of hosts and the edit of one name, shown and handled by ExcludedDomainsDialog.
#pragma once

#include "app/directory_chooser.h"

class wxWindow;

namespace lumbra::gui {

// Runs the window modally over `parent`; it works on lumbra-url.ini of the current
// directory. Its browse button opens the directory chooser with `drives`.
void RunExcludedDomains(wxWindow* parent, const DriveSource& drives);

}  // namespace lumbra::gui
