#include "app/interactive_mode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// One run in a fresh working folder holding cloud.xyz (1000 points, three 5 m tiles) and a
// file cloud.las that no reader takes.
struct InteractiveRun {
    testsupport::TempDir dir;
    fs::path previous = fs::current_path();
    int code = -1;
    std::string out, err;

    InteractiveRun() {
        fs::current_path(dir.path());
        std::string text;
        for (int i = 0; i < 1000; ++i) text += std::to_string(i % 15) + ".5 2.5 1\n";
        testsupport::writeFile("cloud.xyz", text);
        testsupport::writeFile("cloud.las", "not a LAS file");
    }
    ~InteractiveRun() { fs::current_path(previous); }

    void run(std::vector<std::string> args, const TileSelectionWindow& window) {
        args.insert(args.begin(), "e57_brindlewick");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        code = runInteractiveMode(static_cast<int>(argv.size()), argv.data(), window);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
    }
    std::string settings() const {
        return fs::exists("settings.ini") ? testsupport::readFile("settings.ini") : "none";
    }
};

std::size_t at(const std::string& text, const std::string& part) {
    const std::size_t pos = text.find(part);
    EXPECT_NE(pos, std::string::npos) << "no \"" << part << "\" in:\n" << text;
    return pos;
}

}  // namespace

// Every way out but a finished export. The window stand-in may start the build (which it
// leaves running: the exit waits for it), change the texts and the tile size, or fail to open.
TEST(InteractiveMode, ExitsAndTheirLines) {
    struct Case {
        const char* name;
        const char* input;
        const char* output;  // the window's output folder text
        double tileSize;
        bool build, exportRequested;
        const char* windowError;
        int code;
        const char* line;  // on standard output for code 0, else on standard error
    };
    const Case cases[] = {
        {"closed", "cloud.xyz", "out", 5, false, false, "", 0, "UI closed by user.\n"},
        {"closed during a build", "cloud.xyz", "out", 5, true, false, "", 0,
         "[PREVIEW CACHE] rebuild test"},
        {"no window", "cloud.xyz", "out", 5, false, false, "no display", 4, "ERROR: no display\n"},
        {"closed after a failed build", "cloud.las", "out", 5, true, false, "", 5,
         "UI closed after startup-build failure.\nBuild returned false.\n"},
        {"empty input", "", "out", 5, false, true, "", 1,
         "ERROR: input .e57/.xyz path is empty.\n"},
        {"empty output folder", "cloud.xyz", "", 5, false, true, "", 1,
         "ERROR: output directory is empty.\n"},
        {"folder below a file", "cloud.xyz", "cloud.xyz/out", 5, false, true, "", 3,
         "ERROR: cannot create output directory: cloud.xyz/out | Not a directory\n"},
        {"missing input", "gone.xyz", "out", 5, false, true, "", 2,
         "ERROR: input file does not exist: gone.xyz\n"},
        {"tile size zero", "cloud.xyz", "out", 0, false, true, "", 3,
         "ERROR: coarse tile size must be > 0.\n"},
        {"tile size NaN", "cloud.xyz", "out", std::nan(""), false, true, "", 3,
         "ERROR: coarse tile size must be > 0.\n"},
        {"export after a failed build", "cloud.las", "out", 5, true, true, "", 5,
         "ERROR: startup build failed.\nBuild returned false.\n"},
        {"export without selections", "cloud.xyz", "out", 5, false, true, "", 0,
         "effective_tile_cap=2000 | Mpts_per_s=0.00\n\nTile selection cancelled.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InteractiveRun r;
        r.run({c.input, "first"},
              [&](ProgramState& s, StartBuildCallback start, auto, auto, std::string* error) {
                  if (c.build) start(0);
                  s.outputFolder = c.output;
                  s.coarseTileSize = c.tileSize;
                  *error = c.windowError;
                  return c.exportRequested;
              });
        EXPECT_EQ(r.code, c.code);
        at(c.code == 0 ? r.out : r.err, c.line);
        if (c.code == 0 && !c.exportRequested) {  // after the build's own lines
            EXPECT_TRUE(r.out.ends_with("UI closed by user.\n")) << r.out;
        }
        // Only a window that asked for an export saves its texts.
        EXPECT_EQ(r.settings(), c.exportRequested
                                    ? std::string("[Paths]\nInputE57Path=") + c.input +
                                          "\nOutputFolder=" + c.output + "\n"
                                    : "none");
    }
}

// An export still running when the window closes: the report waits for its helper. The
// command line's input wins over settings.ini, which fills the output folder.
TEST(InteractiveMode, ReportAfterAnExport) {
    InteractiveRun r;
    testsupport::writeFile("settings.ini", "[Paths]\nInputE57Path=/s.e57\nOutputFolder=out\n");
    testsupport::writeFile("helper.sh",
                           "#!/bin/sh\nsleep 0.3\nprintf '%s\\n' '[Status]' "
                           "'State=Success' 'Message=cut' > \"$2.status.ini\"\n");
    fs::permissions("helper.sh", fs::perms::owner_all);
    setenv("PDAL_DRIVER_PATH", "/opt/drivers", 1);
    std::size_t tiles = 0;
    r.run({"cloud.xyz"}, [&](ProgramState& s, StartBuildCallback start,
                             StartExportCallback exportCuts, auto, std::string*) {
        start(0);
        joinBuildThread(s);  // the user waits for the map
        tiles = s.tileCounts.size();
        s.savedTopSelections.push_back({{s.tileCounts.begin()->first}});
        s.exportPreparation.helperProgram = r.dir / "helper.sh";
        exportCuts(0, true, false);
        return true;
    });
    unsetenv("PDAL_DRIVER_PATH");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists("out/Project 1/cloud_export_job.ini"));
    const std::size_t report = at(r.out,
                                  "Reading file: cloud.xyz\nOutput dir:   out\n"
                                  "PDAL_DRIVER_PATH: /opt/drivers\n");
    const std::size_t helperEnd = at(r.out, "[EXPORT HELPER] process exited | exitCode=0");
    const std::size_t preview = at(r.out, "\n\n[PREVIEW] mode=EXACT_POINT_STREAM | build_wall_ms=");
    EXPECT_LT(report, helperEnd);
    EXPECT_LT(helperEnd, preview);
    EXPECT_LT(preview, at(r.out, " | points=1000 | coarse_tiles=" + std::to_string(tiles) + " |"));
    EXPECT_EQ(r.out.find("Tile selection cancelled."), std::string::npos);
}
