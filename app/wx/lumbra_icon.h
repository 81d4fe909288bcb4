// The application icon: a page under a crescent moon, in the sizes a window manager asks for.
#pragma once

#include <wx/iconbndl.h>

namespace lumbra::gui {

wxIconBundle ApplicationIcons();
// The icon at `size` pixels square, for the about box.
wxBitmap ApplicationBitmap(int size);

}  // namespace lumbra::gui
