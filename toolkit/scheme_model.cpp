#include "toolkit/scheme_model.h"

namespace keldrun {

namespace {

int clampChannel(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

const ColourScheme kDefault = {{
    rgb(0x3e, 0x8b, 0x9f), rgb(0xe2, 0xec, 0xfd), rgb(0x31, 0x6a, 0xc5), rgb(0xff, 0x00, 0xff),
    rgb(0xc1, 0xd2, 0xed), rgb(0xcf, 0xd9, 0xe2), rgb(0xed, 0xf7, 0xff), rgb(0x00, 0x24, 0x80),
    rgb(0x00, 0x00, 0x00), rgb(0x60, 0x60, 0x80), rgb(0x00, 0x64, 0x10), rgb(0xb7, 0xc8, 0xe3),
    rgb(0xeb, 0xeb, 0xff), rgb(0x31, 0x6a, 0xc5), rgb(0xff, 0xff, 0xf5), rgb(0xbe, 0xc4, 0xce),
    rgb(0x00, 0x00, 0x00), rgb(0xec, 0xf6, 0xff), rgb(0xff, 0xff, 0xf5), rgb(0xbe, 0xc4, 0xce),
    rgb(0x31, 0x6a, 0xc5), rgb(0xeb, 0xeb, 0xff), rgb(0xec, 0xe9, 0xd8), rgb(0xf5, 0xf5, 0xff),
    rgb(0xcf, 0xd9, 0xe2), rgb(0xb1, 0xbb, 0xc4), rgb(0xff, 0x00, 0xff),
}};

}  // namespace

Colour shade(Colour c, int delta) {
  return rgb(clampChannel(redOf(c) + delta), clampChannel(greenOf(c) + delta),
             clampChannel(blueOf(c) + delta));
}

const ColourScheme& defaultScheme() { return kDefault; }

ButtonColours buttonColours(const ColourScheme& scheme, ButtonLook look, bool hasCustomFace,
                            Colour customFace) {
  ButtonColours out;
  out.text = look == ButtonLook::kDisabled ? scheme[SchemeColour::kDisabledText] : scheme[SchemeColour::kText];
  if (hasCustomFace) {
    bool active = look == ButtonLook::kHover || look == ButtonLook::kPressed;
    out.face = active ? shade(customFace, -10) : customFace;
    out.lightEdge = shade(customFace, 50);
    out.darkEdge = shade(customFace, -50);
    return out;
  }
  out.face = look == ButtonLook::kHover || look == ButtonLook::kPressed ? scheme[SchemeColour::kButtonHover]
                                                                          : scheme[SchemeColour::kButtonFace];
  out.lightEdge = scheme[SchemeColour::kArrowLight];
  out.darkEdge = look == ButtonLook::kPressed ? scheme[SchemeColour::kButtonFrame] : scheme[SchemeColour::kShadow];
  return out;
}

}  // namespace keldrun
