#include "gui/progress_bars.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "imgui.h"

namespace {

bool isPercentNumberChar(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-';
}
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool parsePercentFromMessage(const std::string& message, float& percent) {
    percent = 0.0f;
    const std::size_t sign = message.find('%');
    if (sign == std::string::npos || sign == 0) return false;
    std::size_t end = sign;  // one past the number's last character
    while (end > 0 && isBlank(message[end - 1])) --end;
    if (end == 0) return false;
    std::size_t begin = end;
    while (begin > 0 && isPercentNumberChar(message[begin - 1])) --begin;
    if (begin == end) return false;
    const std::string number = message.substr(begin, end - begin);
    char* parsedEnd = nullptr;
    const double value = std::strtod(number.c_str(), &parsedEnd);
    if (parsedEnd == number.c_str()) return false;
    percent = static_cast<float>(std::clamp(value, 0.0, 100.0));
    return true;
}

std::string stageProgressOverlay(const char* label, float fraction, bool hasFraction,
                                 bool showPercent) {
    const float f = std::clamp(hasFraction ? fraction : 0.0f, 0.0f, 1.0f);
    if (!showPercent) return label ? label : "";
    char text[96];
    std::snprintf(text, sizeof(text), "%s %.0f%%", label ? label : "",
                  static_cast<double>(f) * 100.0);
    return text;
}

void drawStageProgressBar(const char* label, float fraction, bool hasFraction, bool showPercent,
                          float height) {
    const float f = std::clamp(hasFraction ? fraction : 0.0f, 0.0f, 1.0f);
    const std::string overlay = stageProgressOverlay(label, fraction, hasFraction, showPercent);
    ImGui::ProgressBar(f, ImVec2(-1.0f, height), overlay.c_str());
}

void drawBusyBar(const char* text, float height) {
    const float w = std::max(ImGui::GetContentRegionAvail().x, 1.0f);
    const ImVec2 p = ImGui::GetCursorScreenPos();
    ImGui::InvisibleButton("##busy_bar", ImVec2(w, std::max(height, 1.0f)));
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 q(p.x + w, p.y + height);
    draw->AddRectFilled(p, q, IM_COL32(50, 60, 75, 255), 3.0f);
    draw->AddRect(p, q, IM_COL32(120, 140, 170, 255), 3.0f, 0, 1.0f);
    const float block = std::max(w * 0.25f, 40.0f);
    const double t = ImGui::GetTime() * 0.8;
    const float phase = static_cast<float>(t - std::floor(t));
    const float left = p.x + std::max(w - block, 1.0f) * phase;
    const float right = std::min(left + block, p.x + w);
    draw->AddRectFilled(ImVec2(left, p.y), ImVec2(right, q.y), IM_COL32(90, 160, 255, 255), 3.0f);
    if (text && text[0] != '\0') {
        const ImVec2 size = ImGui::CalcTextSize(text);
        draw->AddText(ImVec2(p.x + (w - size.x) * 0.5f, p.y + (height - size.y) * 0.5f),
                      IM_COL32(230, 235, 245, 255), text);
    }
}

ExportBarView advanceExportProgress(GuiProcessState& proc, const std::string& message, double now) {
    ExportBarView view;
    float shown = 0.0f;
    float overlayValue = 0.0f;
    float percent = 0.0f;
    if (parsePercentFromMessage(message, percent)) {
        shown = std::clamp(percent / 100.0f, 0.0f, 1.0f);
        proc.exportProgressFraction = std::max(proc.exportProgressFraction, shown);
        overlayValue = percent;
    } else {
        if (proc.exportProgressLastTime < 0.0) {
            proc.exportProgressFraction = 0.02f;
        } else {
            const double current = proc.exportProgressFraction;
            const double rate = current < 0.1 ? 0.003 : 0.00008;
            const double next = current + (now - proc.exportProgressLastTime) * rate;
            proc.exportProgressFraction = static_cast<float>(std::min(next, 0.95));
        }
        proc.exportProgressLastTime = now;
        shown = proc.exportProgressFraction;
        overlayValue = shown * 100.0f;
    }
    if (shown > 0.0f && shown < 0.02f) shown = 0.02f;
    char text[64];
    if (overlayValue > 0.0f && overlayValue < 1.0f) {
        std::snprintf(text, sizeof(text), "%.1f%%", static_cast<double>(overlayValue));
    } else {
        std::snprintf(text, sizeof(text), "%.0f%%", static_cast<double>(overlayValue));
    }
    view.fraction = shown;
    view.overlay = text;
    return view;
}

void drawExportProgressBar(GuiProcessState& proc, const std::string& message, float height) {
    const ExportBarView view = advanceExportProgress(proc, message, ImGui::GetTime());
    ImGui::ProgressBar(view.fraction, ImVec2(-1.0f, height), view.overlay.c_str());
}
