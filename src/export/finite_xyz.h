#pragma once

#include "points/input/cloud_point.h"

// Whether x, y and z are all finite: x - x is 0 for a finite x and NaN for NaN or an infinity,
// so one compare covers the three, without a branch in the routes' per-point loops.
inline bool finite3(double x, double y, double z) { return (x - x) + (y - y) + (z - z) == 0.0; }
inline bool finite3(const CloudPoint& p) { return finite3(p.x, p.y, p.z); }
