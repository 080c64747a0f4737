#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "gui/export_buttons.h"
#include "gui/output_formats.h"

namespace {

TEST(OutputFormats, AllowedByInputAndModeAndTheChoiceCorrection) {
    struct Row {
        InputKind input;
        int mode;
        bool e57, xyz, las;
        int choice, corrected;
    } const rows[] = {
        {InputKind::E57, 0, true, true, true, 1, 1},
        {InputKind::Las, 0, true, true, true, 0, 0},  // LAS to E57 is a route of its own
        {InputKind::E57, 1, true, false, false, 2, 0},
        {InputKind::Xyz, 3, true, false, false, 1, 0},
        {InputKind::Las, 1, false, false, false, 2, 0},
        {InputKind::Laz, 0, false, false, false, 1, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(static_cast<int>(r.input)) + " mode " + std::to_string(r.mode));
        const AllowedOutputFormats a = allowedOutputFormats(r.input, r.mode);
        EXPECT_EQ(a.e57, r.e57);
        EXPECT_EQ(a.xyz, r.xyz);
        EXPECT_EQ(a.las, r.las);
        EXPECT_EQ(correctedOutputFormat(r.choice, a), r.corrected);
        EXPECT_EQ(unavailableFormatNote(a, r.mode) == nullptr, a.all());
    }
}

TEST(ExportButtons, EnablingRulesLabelsNotesAndReadyLine) {
    ExportPanelFacts ready;
    ready.input = InputKind::E57;
    ready.exportReady = true;
    auto with = [&](auto change) {
        ExportPanelFacts f = ready;
        change(f);
        return f;
    };
    struct Row {
        const char* name;
        ExportPanelFacts facts;
        bool row, xyzOnly, photo;
        const char* second;
        bool formatNote;
        int photoNotes;
        const char* ready;  // the ready line's start
    } const rows[] = {
        {"no saved selection", with([](auto& f) { f.exportReady = false; }), false, true, false,
         "Export XYZ+RGB", false, 0, "Save a top-view selection"},
        {"las to las", with([](auto& f) { f.input = InputKind::Las, f.outputFormat = 2; }), true,
         false, false, "Export XYZ+RGB/LAS orig", true, 0, "Ready: one new LAS file"},
        {"e57 to xyz", with([](auto& f) { f.outputFormat = 1; }), true, true, false,
         "Export XYZ+RGB", false, 0, "Ready: one new XYZ ASCII file"},
        {"xyz input", with([](auto& f) { f.input = InputKind::Xyz, f.photoPassAvailable = true; }),
         true, true, false, "Export XYZ+RGB", false, 0, "Ready: one new E57 will be exported. Opt"},
        {"streaming", with([](auto& f) { f.streaming = true, f.exportMode = 1; }), false, true,
         false, "Export XYZ+RGB", false, 0, "Ready: one new file will be exported per saved"},
        {"las split", with([](auto& f) { f.input = InputKind::Las, f.exportMode = 1; }), true, true,
         false, "Export XYZ+RGB", false, 0, "Ready: one new E57 will be exported. Several"},
        {"photo pass", with([](auto& f) { f.preflightMatches = f.photoPassAvailable = true; }),
         true, true, true, "Export XYZ+RGB", false, 0, "Ready"},
        {"no image2d, one note", with([](auto& f) { f.preflightMatches = true; }), true, true,
         false, "Export XYZ+RGB", false, 1, "Ready"},
        {"image2d but unsafe",
         with([](auto& f) { f.preflightMatches = true, f.image2DBlocks = 1; }), true, true, false,
         "Export XYZ+RGB", false, 2, "Ready"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const ExportPanelRules rules = exportPanelRules(r.facts);
        EXPECT_EQ(rules.rowEnabled, r.row);
        EXPECT_EQ(rules.buttons[0].enabled, r.xyzOnly);
        EXPECT_EQ(rules.buttons[2].enabled, r.photo);
        EXPECT_EQ(rules.clickable(1), r.row);
        EXPECT_STREQ(rules.buttons[1].label, r.second);
        EXPECT_EQ(rules.formatNote != nullptr, r.formatNote);
        EXPECT_EQ((rules.firstPhotoNote != nullptr) + (rules.secondPhotoNote != nullptr),
                  r.photoNotes);
        EXPECT_EQ(std::string(rules.readyLine).rfind(r.ready, 0), 0u) << rules.readyLine;
    }
    // A single Image2D block counts: the notes say why the pass is off, not that there are none.
    const ExportPanelRules one = exportPanelRules(rows[std::size(rows) - 1].facts);
    EXPECT_STREQ(one.firstPhotoNote,
                 "Photo third pass is disabled for this E57 because safe native photo export is "
                 "not available.");
    EXPECT_STREQ(one.secondPhotoNote,
                 "Photo third pass is disabled for this file type because PDAL fallback may be "
                 "required.");
    EXPECT_EQ(shownExportMode(false, 1), 0);
    EXPECT_EQ(shownExportMode(true, 1), 1);
}

}  // namespace
