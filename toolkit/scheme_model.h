// The program's colour scheme and the colour arithmetic of its owner-drawn controls.
//
// Colours are 0x00BBGGRR values, the layout of a Win32 COLORREF, so that window code can hand
// them to GDI unchanged while this header stays free of <windows.h>.
#ifndef KELDRUN_TOOLKIT_SCHEME_MODEL_H_
#define KELDRUN_TOOLKIT_SCHEME_MODEL_H_

#include <cstdint>

namespace keldrun {

using Colour = uint32_t;

constexpr Colour rgb(int r, int g, int b) {
  return Colour(r & 0xFF) | (Colour(g & 0xFF) << 8) | (Colour(b & 0xFF) << 16);
}
constexpr int redOf(Colour c) { return int(c & 0xFF); }
constexpr int greenOf(Colour c) { return int((c >> 8) & 0xFF); }
constexpr int blueOf(Colour c) { return int((c >> 16) & 0xFF); }

// Adds delta to each channel, clamped to 0..255.
Colour shade(Colour c, int delta);

// Roles of the scheme's colours. The order is the order of the scheme record.
enum class SchemeColour : int {
  kFrame,               // outline of the tab strip and splitter
  kTabFace,             // tabs that are not selected
  kSelection,           // the selected tab, focus marks
  kMask,                // transparent colour of the image strips
  kArrowFill,           // inside of a sort arrow
  kDialogBackground,    // dialogs, read-only and disabled edit fields (first brush)
  kArrowLight,          // light edge of a sort arrow
  kArrowDark,           // dark edge of a sort arrow
  kText,                // ordinary text
  kDisabledText,        // text of disabled buttons and menu items
  kAccentText,          // text of the selected tab
  kButtonFace,          // face of a program-drawn button
  kButtonHover,         // face of a button under the mouse
  kButtonFrame,         // outline of a focused or default button
  kListBackground,      // rows of the virtual list
  kHeaderBackground,    // sort header items
  kHeaderText,          // sort header text
  kPageBackground,      // child pages (second brush)
  kEditBackground,      // editable fields
  kSplitterFace,        // the splitter bar
  kFocusFrame,          // focus frame of buttons
  kMenuHighlight,       // the popup menu's hot item
  kMenuStripColour,     // the popup menu's icon strip
  kMenuBackground,      // the popup menu's items
  kTabStripBackground,  // the area behind the tabs
  kShadow,              // dark 3D edges of program-drawn frames
  kTransparent,         // asks a window for no background at all
  kCount
};

struct ColourScheme {
  Colour values[int(SchemeColour::kCount)];
  Colour operator[](SchemeColour role) const { return values[int(role)]; }
};

// The scheme the program starts with.
const ColourScheme& defaultScheme();

// The faces and edges of a program-drawn button in one look.
enum class ButtonLook { kNormal, kHover, kPressed, kDisabled };

struct ButtonColours {
  Colour face;
  Colour lightEdge;
  Colour darkEdge;
  Colour text;
};

// Colours for a button. With a custom face colour, hover and pressed faces are that colour
// darkened by 10 per channel and the edges are it lightened and darkened by 50; without one the
// scheme's button colours apply.
ButtonColours buttonColours(const ColourScheme& scheme, ButtonLook look, bool hasCustomFace,
                            Colour customFace);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_SCHEME_MODEL_H_
