#pragma once

// The top and vertical views' settings, kept for the whole run.
enum TopViewStyle : int {
    TOP_VIEW_POINTS = 0,
    TOP_VIEW_VISUAL_VOXELS = 1,
    TOP_VIEW_POINTS_AND_VOXELS = 2,
};

struct ViewSettings {
    bool topViewAutoFit = true;
    float topCellSizePx = 22.0f;
    float topPanX = 0.0f;
    float topPanY = 0.0f;
    float verticalZoom = 1.0f;
    float verticalPanX = 0.0f;
    float verticalPanY = 0.0f;
    float pointBallRadiusPx = 0.5f;
    int topViewStyle = TOP_VIEW_POINTS;
    float visualVoxelSizeM = 1.0f;
    float scannerMarkerRadiusPx = 4.0f;
    float zSensitivity = 2.0f;
    double zCenterM = 0.0;
    bool zCenterSet =
        false;  // zCenterM is set once, on the first tile-selection frame with a Z range
    bool verticalTab = false;  // the three tabs: top when both flags are off
    bool preview3DTab = false;
};
