#pragma once

#include <cstdint>

// The Z colour ramp of the top, vertical and 3D views: low points red, the centre white, high
// points blue-violet. t is the height fraction (clamped to 0..1), centreOffset moves the white
// centre from 0.5, sensitivity stretches the ramp around it. Packed as ImU32: R in the low
// byte, then G, B, A.
std::uint32_t heightToColor(float t, float alpha, float sensitivity, float centreOffset);
