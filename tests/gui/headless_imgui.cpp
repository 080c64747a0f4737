#include "headless_imgui.h"

namespace guitest {

HeadlessImGui::HeadlessImGui(float width, float height) {
    context_ = ImGui::CreateContext();
    ImGui::SetCurrentContext(context_);
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(width, height);
    io.DeltaTime = 1.0f / 60.0f;
    io.IniFilename = nullptr;
    unsigned char* pixels = nullptr;
    int w = 0;
    int h = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
    io.MousePos = ImVec2(-1.0f, -1.0f);
    setItemProbe(&probe_);
}

HeadlessImGui::~HeadlessImGui() {
    setItemProbe(nullptr);
    ImGui::DestroyContext(context_);
}

void HeadlessImGui::frame(const std::function<void()>& draw) {
    probe_.items.clear();
    ImGui::NewFrame();
    draw();
    ImGui::Render();
}

void HeadlessImGui::clickAt(float x, float y, const std::function<void()>& draw, bool ctrl) {
    ImGuiIO& io = ImGui::GetIO();
    io.KeyCtrl = ctrl;
    io.MousePos = ImVec2(x, y);
    frame(draw);
    io.MouseDown[0] = true;
    frame(draw);
    io.MouseDown[0] = false;
    frame(draw);
    io.KeyCtrl = false;
}

bool HeadlessImGui::click(const std::string& label, const std::function<void()>& draw, bool ctrl) {
    auto it = probe_.items.find(label);
    if (it == probe_.items.end()) return false;
    const ItemRect r = it->second;
    clickAt(r.centreX(), r.centreY(), draw, ctrl);
    return true;
}

}  // namespace guitest
