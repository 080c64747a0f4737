#pragma once

enum Preview3DColorMode : int {
    PREVIEW_3D_HEIGHT_Z = 0,
    PREVIEW_3D_SELECTION_HIGHLIGHT = 1,
    PREVIEW_3D_MONOCHROME = 2,
};

// The 3D preview's camera and drawing settings, kept for the whole run.
struct Preview3DSettings {
    float yawDeg = 45.0f;
    float pitchDeg = 30.0f;
    float zoom = 1.0f;
    float panX = 0.0f;
    float panY = 0.0f;
    float orbitSpeed = 0.35f;  // degrees per pixel
    float pointSize = 0.75f;
    int style = 0;  // TopViewStyle
    float voxelSizeM = 0.02f;
    bool showScanners = true;
    bool showGuides = true;
    float scannerMarkerSize = 5.0f;
    float guideLineWidth = 0.75f;
    int colorMode = PREVIEW_3D_HEIGHT_Z;
};
