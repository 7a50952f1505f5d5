// The pictures the program reads from its Resource folder, each painted from a fixed seed.
#pragma once

#include "tools/paint.h"

namespace art {

// Seen in the 3D view: additive light on black (scene_art.cpp).
paint::Image MakeFlare();   // flare0.png, the particle sprite
paint::Image MakeNebula();  // V1.png
paint::Image MakeMandala(); // V2.png
paint::Image MakeLattice(); // V3.png
paint::Image MakeGalaxy();  // V4.png
paint::Image MakeAurora();  // V5.png
paint::Image MakeCrystal(); // V6.png
paint::Image MakeFrame();   // frame.png, laid over the nearest picture

// Seen in the window around the view: ordinary alpha pictures (window_art.cpp).
paint::Image MakeClockFace(); // Clock.png
paint::Image MakeAssistant(); // assistant.png, behind the help text
paint::Image MakeIcon();      // icon.png

} // namespace art
