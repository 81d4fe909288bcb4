#include "app/wx/lumbra_icon.h"

#include <wx/bitmap.h>
#include <wx/icon.h>
#include <wx/image.h>

#include "app/wx/lumbra_icon.xpm"

namespace lumbra::gui {

wxBitmap ApplicationBitmap(int size) {
  wxImage image(lumbra_icon_xpm);
  if (image.GetWidth() != size) image.Rescale(size, size, wxIMAGE_QUALITY_HIGH);
  return wxBitmap(image);
}

wxIconBundle ApplicationIcons() {
  wxIconBundle icons;
  for (int size : {16, 32, 48}) {
    wxIcon icon;
    icon.CopyFromBitmap(ApplicationBitmap(size));
    icons.AddIcon(icon);
  }
  return icons;
}

}  // namespace lumbra::gui
