#include "gui/tile_selection_gui.h"

#include <GLFW/glfw3.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

#include "backends/imgui_impl_glfw.h"
#include "backends/imgui_impl_opengl3.h"
#include "gui/gui_frame.h"
#include "gui/tile_selection_frame.h"
#include "gui/window_size.h"
#include "imgui.h"

namespace {

// ImGui's own font has no em dash, which one label uses: that glyph comes from DejaVu Sans
// when the font is installed, else it shows as ImGui's fallback mark.
void addWindowFonts(ImGuiIO& io) {
    io.Fonts->AddFontDefault();
    const char* dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    std::error_code ec;
    if (!std::filesystem::exists(dejavu, ec)) return;
    static const ImWchar emDash[] = {0x2014, 0x2014, 0};
    ImFontConfig merge;
    merge.MergeMode = true;
    merge.PixelSnapH = true;
    io.Fonts->AddFontFromFileTTF(dejavu, 13.0f, &merge, emDash);
}

// GLFW reports why it failed only through its error callback.
std::string& lastGlfwError() {
    static std::string text;
    return text;
}

void keepGlfwError(int, const char* description) {
    lastGlfwError() = description ? description : "";
}

std::string windowFailure(const char* what) {
    std::string text = "could not open the window: ";
    text += lastGlfwError().empty() ? what : lastGlfwError();
    return text;
}

std::optional<WindowExtent> primaryVideoMode() {
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    if (!monitor) return std::nullopt;
    const GLFWvidmode* mode = glfwGetVideoMode(monitor);
    if (!mode) return std::nullopt;
    return WindowExtent{mode->width, mode->height};
}

void applyAutomaticHeight(GLFWwindow* window, int wantedHeight, GuiProcessState& proc) {
    if (!proc.autoWindowHeight || wantedHeight <= 0) return;
    int w = 0;
    int h = 0;
    glfwGetWindowSize(window, &w, &h);
    const std::optional<WindowExtent> mode = primaryVideoMode();
    const double now = ImGui::GetTime();
    const int target = autoResizeTarget(
        wantedHeight, h, mode ? std::optional<int>(mode->height) : std::nullopt, now,
        proc.lastAutoResizeTime, glfwGetWindowAttrib(window, GLFW_MAXIMIZED) != 0);
    if (target < 0) return;
    glfwSetWindowSize(window, w, target);
    proc.lastAutoResizeTime = now;
}

}  // namespace

bool runTileSelectionGui(const TileCountMap& tileCounts, const TileSampleMap& tileSamples,
                         double& coarseTileSize, int& previewSamplesPerTile, TileSet& selectedTiles,
                         std::vector<SelectedHeightRange>& savedVerticalSelections,
                         std::vector<SavedTileSelection>& savedTopSelections, int& exportMode,
                         int& previewMode, std::string& inputPath, std::string& outputFolder,
                         InputCloudInfo* inputInfo, PreviewBuildState* buildState,
                         ExportHelperStatus* exportStatus, StartBuildCallback startBuildCallback,
                         StartExportCallback startExportCallback, RetileCallback retileCallback,
                         std::string* windowError) {
    if (windowError) windowError->clear();
    lastGlfwError().clear();
    GLFWerrorfun previousErrorCallback = glfwSetErrorCallback(keepGlfwError);
    auto fail = [&](const char* what) {
        if (windowError) *windowError = windowFailure(what);
        glfwSetErrorCallback(previousErrorCallback);
        startBuildCallback = nullptr;
        startExportCallback = nullptr;
        retileCallback = nullptr;
        return false;
    };
    if (!glfwInit()) return fail("GLFW could not be initialised");
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
    const WindowExtent size = initialWindowSize(primaryVideoMode());
    GLFWwindow* window = glfwCreateWindow(size.width, size.height,
                                          "Haldmoor/BRINDLEWICK_E57_V1_1 beta", nullptr, nullptr);
    if (!window) {
        glfwTerminate();
        return fail("the OpenGL 3.0 window could not be created");
    }
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    // Nothing the window draws keeps settings; without this ImGui would write imgui.ini
    // into whatever folder the program was started from.
    ImGui::GetIO().IniFilename = nullptr;
    addWindowFonts(ImGui::GetIO());
    ImGui::StyleColorsDark();
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL3_Init("#version 130");

    GuiInputs in{tileCounts,
                 tileSamples,
                 coarseTileSize,
                 previewSamplesPerTile,
                 selectedTiles,
                 savedVerticalSelections,
                 savedTopSelections,
                 exportMode,
                 previewMode,
                 inputPath,
                 outputFolder,
                 inputInfo,
                 buildState,
                 exportStatus,
                 std::move(startBuildCallback),
                 std::move(startExportCallback),
                 std::move(retileCallback)};
    auto gui = std::make_unique<TileSelectionGuiState>();
    initTileSelectionGuiState(*gui, in);
    GuiProcessState& proc = guiProcessState();

    while (!glfwWindowShouldClose(window)) {
        glfwPollEvents();
        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplGlfw_NewFrame();
        ImGui::NewFrame();
        GuiFrame f{in, *gui, proc, nullptr, nullptr, TileIndexBounds{}, BuildFlags{}};
        glfwGetWindowSize(window, &f.windowWidth, &f.windowHeight);
        drawTileSelectionFrame(f, std::chrono::steady_clock::now());
        ImGui::Render();

        int fbWidth = 0;
        int fbHeight = 0;
        glfwGetFramebufferSize(window, &fbWidth, &fbHeight);
        glViewport(0, 0, fbWidth, fbHeight);
        glClearColor(0.1f, 0.1f, 0.1f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
        glfwSwapBuffers(window);

        applyAutomaticHeight(window, f.wantedWindowHeight, proc);
        if (gui->closeRequested) break;
    }

    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();
    glfwDestroyWindow(window);
    glfwTerminate();
    glfwSetErrorCallback(previousErrorCallback);
    const bool exportRequested = gui->exportRequested;
    gui.reset();
    return exportRequested;
}
