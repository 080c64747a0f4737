#pragma once

#include "E57Format.h"

namespace e57 {
namespace Extension {

// Leica camera distortion ("dist" extension) of a pinhole image.
struct E57_DLL PinholeCameraDistortion {
    int64_t cameraNumber = 0;
    ustring type;
    double CV_K1 = 0.0;
    double CV_K2 = 0.0;
    double CV_K3 = 0.0;
    double CV_K4 = 0.0;
    double CV_K5 = 0.0;
    double CV_K6 = 0.0;
    double CV_P1 = 0.0;
    double CV_P2 = 0.0;
    double CV_CX = 0.0;
    double CV_CY = 0.0;
    double CV_FX = 0.0;
    double CV_FY = 0.0;
    int32_t CV_HEIGHT = 0;
    int32_t CV_WIDTH = 0;
};

}  // namespace Extension
}  // namespace e57
