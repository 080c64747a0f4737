#include "gui/preflight_panel.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "gui/input_kind.h"
#include "gui/item_probe.h"
#include "imgui.h"
#include "points/input/text_utils.h"

namespace {

const ImVec4 kYellow(1.0f, 0.85f, 0.25f, 1.0f);

__attribute__((format(printf, 1, 2))) std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<std::size_t>(n));
    }
    va_end(args);
    return text;
}

const char* orEmptyMark(const std::string& text) { return text.empty() ? "<empty>" : text.c_str(); }

void drawLine(const PreflightLine& line) {
    switch (line.tone) {
        case PreflightTone::Green:
            ImGui::TextColored(ImVec4(0.35f, 1.0f, 0.35f, 1.0f), "%s", line.text);
            break;
        case PreflightTone::Yellow: ImGui::TextColored(kYellow, "%s", line.text); break;
        case PreflightTone::Blue:
            ImGui::TextColored(ImVec4(0.55f, 0.85f, 1.0f, 1.0f), "%s", line.text);
            break;
        case PreflightTone::Orange:
            ImGui::TextColored(ImVec4(1.0f, 0.75f, 0.25f, 1.0f), "%s", line.text);
            break;
        case PreflightTone::Disabled: ImGui::TextDisabled("%s", line.text); break;
    }
}

void drawQuickSummary(const E57PreflightAnalysis& a) {
    drawLine(cartesianSummaryLine(a));
    drawLine(a.image2DBlocks >= 1 ? PreflightLine{"Images present in file", PreflightTone::Yellow}
                                  : PreflightLine{"No Image2D blocks", PreflightTone::Blue});
    drawLine(
        a.structuredScans >= 1
            ? PreflightLine{"Structured scan fields present (row/column)", PreflightTone::Yellow}
            : PreflightLine{"No structured row/column fields", PreflightTone::Blue});
    ImGui::Text("Cartesian scans: %lld", static_cast<long long>(a.cartesianScans));
    ImGui::Text("Non-cartesian scans: %lld", static_cast<long long>(a.nonCartesianScans));
    ImGui::Text("RGB scans: %lld", static_cast<long long>(a.rgbScans));
    ImGui::Text("Intensity scans: %lld", static_cast<long long>(a.intensityScans));
    ImGui::Text("Time scans: %lld", static_cast<long long>(a.timeScans));
    ImGui::Text("Structured scans: %lld", static_cast<long long>(a.structuredScans));
    ImGui::Spacing();
    ImGui::TextUnformatted("Photo preservation note:");
    const PhotoNote note = photoPreservationNote(a);
    drawLine(note.first);
    if (note.second[0] != '\0') ImGui::TextDisabled("%s", note.second);
}

void drawHeaderAndRoot(const E57PreflightAnalysis& a) {
    ImGui::Separator();
    ImGui::TextUnformatted("Binary file header");
    ImGui::Text("Signature: %s", a.header.signature.c_str());
    ImGui::Text("Version: %u.%u", static_cast<unsigned>(a.header.versionMajor),
                static_cast<unsigned>(a.header.versionMinor));
    ImGui::Text("Physical length: %llu", static_cast<unsigned long long>(a.header.physicalLength));
    ImGui::Text("XML physical offset: %llu",
                static_cast<unsigned long long>(a.header.xmlPhysicalOffset));
    ImGui::Text("XML logical length: %llu",
                static_cast<unsigned long long>(a.header.xmlLogicalLength));
    ImGui::Text("Page size: %llu", static_cast<unsigned long long>(a.header.pageSize));
    ImGui::Separator();
    ImGui::TextUnformatted("Root / file metadata");
    ImGui::Text("Root GUID: %s", orEmptyMark(a.rootGuid));
    ImGui::Text("Data3D scans: %lld", static_cast<long long>(a.data3DScans));
    ImGui::Text("Image2D blocks: %lld", static_cast<long long>(a.image2DBlocks));
    ImGui::Text("Total points across scans: %llu", static_cast<unsigned long long>(a.totalPoints));
    ImGui::Text("Image2D GetImage2DSizes failures: %lld",
                static_cast<long long>(a.getImage2DSizesFailures));
    ImGui::Text("Images with masks: %lld", static_cast<long long>(a.imagesWithMasks));
    ImGui::Text("Images with visual references: %lld",
                static_cast<long long>(a.imagesWithVisualRefs));
}

void drawXmlPreview(const E57PreflightAnalysis& a) {
    const char* header = "Coordinate / XML metadata preview##persistent_xml_preview";
    const bool open = ImGui::CollapsingHeader(header, ImGuiTreeNodeFlags_DefaultOpen);
    probeLastItem(header);
    if (!open) return;
    ImGui::BeginChild("preflight_xml_child_persistent", ImVec2(0.0f, 120.0f), true);
    if (a.xmlPreview.empty()) {
        ImGui::TextDisabled("<empty>");
    } else {
        ImGui::TextWrapped("%s", a.xmlPreview.c_str());
    }
    ImGui::EndChild();
}

void drawKindCounts(const char* title, const char* format,
                    const std::map<std::int32_t, std::int64_t>& counts) {
    ImGui::TextUnformatted(title);
    if (counts.empty()) ImGui::TextDisabled("<empty>");
    for (const auto& [kind, count] : counts) {
        ImGui::TextUnformatted(formatText(format, smallIntToText(kind).c_str(),
                                          static_cast<int>(kind), static_cast<long long>(count))
                                   .c_str());
    }
}

void drawImageSummary(const E57PreflightAnalysis& a, const std::string& idSuffix) {
    ImGui::Separator();
    const char* header = "Image2D grouped summary";
    const bool open = ImGui::CollapsingHeader(header, ImGuiTreeNodeFlags_DefaultOpen);
    probeLastItem(header);
    if (!open) return;
    drawKindCounts("Image2D types by count", "type=%s (%d) | count=%lld", a.imageTypeCounts);
    ImGui::Spacing();
    drawKindCounts("Projection types by count", "proj=%s (%d) | count=%lld",
                   a.projectionTypeCounts);
    ImGui::Spacing();
    ImGui::TextUnformatted("Per-Image2D quick list");
    if (a.images.empty()) {
        ImGui::TextDisabled("<empty>");
        return;
    }
    ImGui::BeginChild(("preflight_image2d_child_" + idSuffix).c_str(), ImVec2(0.0f, 160.0f), true);
    for (const E57ImageSummary& image : a.images)
        ImGui::TextWrapped("%s", imageListLine(image).c_str());
    ImGui::EndChild();
}

void drawScanList(const E57PreflightAnalysis& a, const std::string& idSuffix, bool startup) {
    const ImVec4 green(0.45f, 1.0f, 0.45f, 1.0f);
    const ImVec4 red(1.0f, 0.55f, 0.35f, 1.0f);
    ImGui::TextUnformatted("Per-scan summary");
    ImGui::TextColored(green, "Green = cartesian");
    ImGui::SameLine();
    ImGui::TextColored(kYellow, "Yellow = structured");
    ImGui::SameLine();
    ImGui::TextColored(red, "Red = non-cartesian");
    ImGui::BeginChild(("preflight_scans_child_" + idSuffix).c_str(),
                      ImVec2(0.0f, startup ? 115.0f : 95.0f), true);
    for (const E57ScanSummary& s : a.scans) {
        const ScanTone tone = scanTone(s);
        const ImVec4 colour =
            tone == ScanTone::NonCartesian ? red : (tone == ScanTone::Structured ? kYellow : green);
        ImGui::TextColored(colour,
                           "Scan %lld | points=%lld | xyz=(%d,%d,%d) | rgb=(%d,%d,%d) | "
                           "intensity=%d | time=%d | row=%d | col=%d",
                           static_cast<long long>(s.index), static_cast<long long>(s.points),
                           s.cartesianX ? 1 : 0, s.cartesianY ? 1 : 0, s.cartesianZ ? 1 : 0,
                           s.colorRed ? 1 : 0, s.colorGreen ? 1 : 0, s.colorBlue ? 1 : 0,
                           s.intensity ? 1 : 0, s.timeStamp ? 1 : 0, s.rowIndex ? 1 : 0,
                           s.columnIndex ? 1 : 0);
        ImGui::Text("    pose.t = (%.3f, %.3f, %.3f)", s.translationX, s.translationY,
                    s.translationZ);
        if (!s.guid.empty()) ImGui::TextWrapped("    guid = %s", s.guid.c_str());
        ImGui::Separator();
    }
    ImGui::EndChild();
}

void drawAnalysis(const E57PreflightAnalysis& a, const std::string& idSuffix, bool startup) {
    if (!a.ok) {
        ImGui::TextColored(ImVec4(1.0f, 0.35f, 0.35f, 1.0f), "Analysis failed");
        if (!a.error.empty()) ImGui::TextWrapped("%s", a.error.c_str());
        return;
    }
    if (a.partial) {
        ImGui::TextColored(ImVec4(1.0f, 0.75f, 0.2f, 1.0f),
                           "Partial analysis: Image2D parsing stopped early.");
        if (!a.firstImage2DError.empty())
            ImGui::TextWrapped("First Image2D failure: %s", a.firstImage2DError.c_str());
        if (a.firstFailedImage2DIndex >= 0)
            ImGui::Text("First failed Image2D index: %lld",
                        static_cast<long long>(a.firstFailedImage2DIndex));
        ImGui::Separator();
    }
    ImGui::Text("Input file: %s", a.inputPath.c_str());
    ImGui::Text("File size (MB): %.1f", a.fileSizeMB);
    ImGui::Spacing();
    ImGui::TextUnformatted("Quick summary");
    drawQuickSummary(a);

    const char* copyLabel = "Copy analysis to clipboard";
    ImGui::BeginDisabled(!a.ok && !a.partial);
    if (ImGui::Button(copyLabel)) ImGui::SetClipboardText(formatPreflightReport(a).c_str());
    probeLastItem(copyLabel);
    ImGui::EndDisabled();

    drawHeaderAndRoot(a);
    drawXmlPreview(a);
    drawImageSummary(a, idSuffix);
    drawScanList(a, idSuffix, startup);
}

}  // namespace

bool allScansCartesian(const E57PreflightAnalysis& a) {
    return a.data3DScans >= 1 && a.nonCartesianScans == 0;
}

PreflightLine cartesianSummaryLine(const E57PreflightAnalysis& a) {
    if (allScansCartesian(a)) return {"Cartesian scans: all scans have XYZ", PreflightTone::Green};
    if (a.nonCartesianScans >= 1)
        return {"Cartesian scans: mixed or non-cartesian scans detected", PreflightTone::Yellow};
    return {"Cartesian scans: unknown", PreflightTone::Disabled};
}

PhotoNote photoPreservationNote(const E57PreflightAnalysis& a) {
    if (a.image2DBlocks < 1)
        return {{"This file contains no Image2D photo blocks.", PreflightTone::Disabled}, ""};
    if (allScansCartesian(a))
        return {
            {"For this type of file, photos can be saved in a third pass.", PreflightTone::Green},
            "Association is preserved on the native libE57 export path."};
    return {{"For this type of file, photos cannot be safely saved in a third pass.",
             PreflightTone::Orange},
            "If PDAL reading/export fallback is used, associated photos will be lost."};
}

std::string imageListLine(const E57ImageSummary& i) {
    if (!i.getSizesOk)
        return formatText("Image %lld | assocGuid=%s | GetImage2DSizes FAILED",
                          static_cast<long long>(i.index), orEmptyMark(i.assocGuid));
    return formatText(
        "Image %lld | assocGuid=%s | proj=%s (%d) | imageType=%s (%d) | mask=%d | visual=%d | "
        "%lld x %lld | size=%lld",
        static_cast<long long>(i.index), orEmptyMark(i.assocGuid), smallIntToText(i.proj).c_str(),
        static_cast<int>(i.proj), smallIntToText(i.imageType).c_str(),
        static_cast<int>(i.imageType), i.hasMask ? 1 : 0, i.hasVisualRef ? 1 : 0,
        static_cast<long long>(i.width), static_cast<long long>(i.height),
        static_cast<long long>(i.size));
}

ScanTone scanTone(const E57ScanSummary& s) {
    if (!(s.cartesianX && s.cartesianY && s.cartesianZ)) return ScanTone::NonCartesian;
    if (s.rowIndex || s.columnIndex) return ScanTone::Structured;
    return ScanTone::Cartesian;
}

void drawE57PreflightPanel(PreflightPanelContext& context, const char* idSuffix, bool startup) {
    const std::string path = trimmedText(context.inputPathText);
    const bool matches = preflightAttemptedFor(context.analysis, path);
    const char* header = "E57 header / XML metadata preview";
    const bool open = ImGui::CollapsingHeader(header);
    probeLastItem(header);
    if (!open) return;
    if (startup) {
        const char* readLabel = "Read E57 header + metadata";
        ImGui::BeginDisabled(path.empty() || context.busy);
        const bool clicked = ImGui::Button(readLabel);
        probeLastItem(readLabel);
        ImGui::EndDisabled();
        if (clicked && !path.empty() && !context.busy) {
            // Synchronous: the record is drawn from the next frame on.
            context.busy = true;
            std::string error;
            analyzeE57Preflight(path, context.analysis, &error);
            context.busy = false;
        }
        if (path.empty()) {
            ImGui::TextDisabled("Enter or browse an input .e57 path first.");
        } else if (context.busy) {
            ImGui::TextDisabled("Reading E57 header and metadata...");
        } else if (!matches) {
            ImGui::TextDisabled("Analysis is not loaded for the current input path.");
        }
        if (!matches) return;
    } else if (!matches) {
        return;
    }
    drawAnalysis(context.analysis, idSuffix ? idSuffix : "", startup);
}
