// The export helper run as the real program, one job per dispatch row, with every output read
// back.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "app/export_helper_mode.h"
#include "export/export_test_util.h"
#include "export/output_naming.h"
#include "platform/child_process.h"
#include "platform/file_io.h"
#include "points/input/las_test_file.h"
#include "points/job/export_job_file.h"
#include "points/job/export_status.h"
#include "support/e57_test_files.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

struct Point {
    double x, y, z;
    auto operator<=>(const Point&) const = default;
};

// Five tiles along x (tile size 1), each with two points at each of the heights 0.5, 1.5, 2.5;
// `repeat` times over for inputs that must make large outputs.
std::vector<Point> sourcePoints(int repeat = 1) {
    std::vector<Point> pts;
    for (int r = 0; r < repeat; ++r)
        for (int ix = 0; ix < 5; ++ix)
            for (double z : {0.5, 1.5, 2.5}) {
                pts.push_back({ix + 0.25, 0.25, z});
                pts.push_back({ix + 0.75, 0.5, z});
            }
    return pts;
}

// The job's saved selections: one top selection over tiles 0 and 1, vertical ones over tile 2
// (z 0..1) and tile 3 (z 1..2, stored reversed). Tile 4 is in none.
enum Selection { kTop = 1, kVertical1 = 2, kVertical2 = 4, kAll = 7 };

std::vector<Point> keptBy(int selection, int repeat = 1) {
    std::vector<Point> out;
    for (const Point& p : sourcePoints(repeat)) {
        const double tile = std::floor(p.x);
        if (((selection & kTop) && tile <= 1) ||
            ((selection & kVertical1) && tile == 2 && p.z <= 1) ||
            ((selection & kVertical2) && tile == 3 && p.z >= 1 && p.z <= 2))
            out.push_back(p);
    }
    return out;
}

ExportJob makeJob(const fs::path& input, const fs::path& output, int format, int mode,
                  ExportContent content) {
    ExportJob job;
    job.inputE57Path = input.string();
    job.outputE57Path = output.string();
    job.inputTotalPoints = sourcePoints().size();
    job.outputAreaM2 = 4.0;
    job.exportMode = mode;
    job.outputFormat = format;
    job.exportContent = static_cast<std::int32_t>(content);
    applyExportContentToFlags(job);
    job.savedTileSelections = {{{{0, 0}, {1, 0}}}};
    job.selectedHeightRanges = {{{{2, 0}}, 0.0, 1.0}, {{{3, 0}}, 2.0, 1.0}};
    for (std::int64_t ix = 0; ix < 4; ++ix) {
        job.selectedCoarseTiles.insert({ix, 0});
        job.selectedCoarseTileCounts[{ix, 0}] = 6;
    }
    return job;
}

const std::string kPhotoBlob = "jpeg-of-scan-A";

struct Inputs {
    fs::path las, e57, e57WithPhoto, xyz, spherical;  // spherical: no Cartesian scan
};

Inputs writeInputs(const fs::path& dir, int repeat = 1) {
    Inputs in{dir / "source.las", dir / "source.e57", dir / "photo.e57", dir / "source.xyz",
              dir / "spherical.e57"};
    const std::vector<Point> pts = sourcePoints(repeat);
    lastest::LasTestHeader header;
    header.formatByte = 2;
    header.recordLength = 26;
    header.legacyCount = static_cast<std::uint32_t>(pts.size());
    std::vector<lastest::LasTestRecord> records;
    testsupport::TestScan scan;
    scan.guid = "scan-A";
    scan.hasColour = true;
    std::string xyz;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        const Point& p = pts[i];
        const auto colour = static_cast<std::uint16_t>(10 * i % 256);
        records.push_back({static_cast<std::int32_t>(std::lround(p.x * 100)),
                           static_cast<std::int32_t>(std::lround(p.y * 100)),
                           static_cast<std::int32_t>(std::lround(p.z * 100)), 0, colour, colour,
                           colour});
        scan.add(p.x, p.y, p.z);
        std::ostringstream line;
        line << p.x << " " << p.y << " " << p.z << " " << colour << " 1 2\n";
        xyz += line.str();
    }
    testsupport::writeFile(in.las, lastest::makeLasFile(header, records, 20));
    testsupport::writeE57Source(in.e57.string(), "source-guid", {scan});
    testsupport::writeE57Source(in.e57WithPhoto.string(), "source-guid", {scan},
                                {{"img-A", "scan-A", kPhotoBlob}});
    testsupport::writeFile(in.xyz, xyz);
    scan.cartesian = false;
    testsupport::writeE57Source(in.spherical.string(), "source-guid", {scan});
    return in;
}

struct HelperRun {
    std::uint32_t exit = 0xffffffff;
    std::string state;
    std::string message;
    std::string console;  // standard output and error, when captured
};

// Starts the program on the job; with captureConsole through a shell that redirects its output
// to job.ini.log, since ChildProcess hands the child this process's own output. shellSetup runs
// in that shell first (limits, environment), and the program replaces the shell.
platform::ChildProcess startHelper(const fs::path& jobPath, bool captureConsole = true,
                                   const std::string& shellSetup = {}) {
    const fs::path log = jobPath.string() + ".log";
    std::vector<std::string> argv = {BRINDLEWICK_PROGRAM_PATH, "--export-job", jobPath.string()};
    if (captureConsole)
        argv = {"/bin/sh",
                "-c",
                shellSetup + " exec \"$0\" --export-job \"$1\" > \"$2\" 2>&1",
                BRINDLEWICK_PROGRAM_PATH,
                jobPath.string(),
                log.string()};
    platform::ChildProcess child;
    std::string error;
    if (!child.start(argv, jobPath.parent_path(), &error))
        ADD_FAILURE() << "cannot start the helper: " << error;
    return child;
}

HelperRun finishHelper(platform::ChildProcess& child, const fs::path& jobPath,
                       bool captureConsole = true) {
    HelperRun run;
    if (!child.isOpen()) return run;
    platform::ChildProcess::Wait wait;
    do wait = child.waitFor(1000);
    while (wait == platform::ChildProcess::Wait::TimedOut);
    EXPECT_EQ(wait, platform::ChildProcess::Wait::Ended);
    EXPECT_TRUE(child.exitCode(&run.exit));
    readExportStatusFile(jobPath.string() + ".status.ini", &run.state, &run.message);
    if (captureConsole) run.console = testsupport::readFile(jobPath.string() + ".log");
    return run;
}

HelperRun runHelper(const fs::path& jobPath, bool captureConsole = true,
                    const std::string& shellSetup = {}) {
    platform::ChildProcess child = startHelper(jobPath, captureConsole, shellSetup);
    return finishHelper(child, jobPath, captureConsole);
}

bool hasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

std::set<std::string> filesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

enum class Kind { E57, Las, Xyz };
enum class Colour { Unchecked, With, Without };

struct Output {
    std::string name;
    Kind kind;
    int selection;
    Colour colour = Colour::Unchecked;  // E57 outputs only
    std::size_t images = 0;             // E57 outputs only
};

void expectOutput(const fs::path& dir, const Output& want) {
    SCOPED_TRACE(want.name);
    const fs::path path = dir / want.name;
    std::vector<Point> got;
    if (want.kind == Kind::E57) {
        const testsupport::ReadFile file = testsupport::readE57File(path.string());
        for (const testsupport::ReadScan& s : file.scans) {
            for (std::size_t i = 0; i < s.x.size(); ++i) got.push_back({s.x[i], s.y[i], s.z[i]});
            if (want.colour != Colour::Unchecked) {
                EXPECT_EQ(s.header.pointFields.colorRedField, want.colour == Colour::With);
            }
        }
        ASSERT_EQ(file.images.size(), want.images);
        for (const testsupport::ReadImage& image : file.images) EXPECT_EQ(image.blob, kPhotoBlob);
    } else {
        const std::vector<CloudPoint> back = want.kind == Kind::Las
                                                 ? exporttest::readLasBack(path).points
                                                 : exporttest::readXyzBack(path);
        for (const CloudPoint& p : back) got.push_back({p.x, p.y, p.z});
    }
    std::vector<Point> expected = keptBy(want.selection);
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].x, expected[i].x, 1e-6) << i;
        EXPECT_NEAR(got[i].y, expected[i].y, 1e-6) << i;
        EXPECT_NEAR(got[i].z, expected[i].z, 1e-6) << i;
    }
}

struct JobSpec {
    fs::path Inputs::*input;
    const char* output;  // not a std::string: GCC 12 at -O3 warns falsely on the case tables
    int format;
    int mode;
    ExportContent content;
};

struct Case {
    std::string name;  // the case's folder, which holds its job and outputs
    JobSpec job;
    std::string message;     // non-E57 rows: followed by the job's output path
    std::string methodLine;  // the "[EXPORT METHOD]" console line; empty: none at all
    std::vector<Output> outputs;
};

// Writes the case's job into its own folder, runs the helper and checks the status, the
// console and that the folder holds exactly the job, its logs and the outputs named.
void runSuccessCase(const fs::path& root, const Inputs& inputs, const Case& c) {
    SCOPED_TRACE(c.name);
    const fs::path dir = root / c.name;
    fs::create_directories(dir);
    const ExportJob job =
        makeJob(inputs.*c.job.input, dir / c.job.output, c.job.format, c.job.mode, c.job.content);
    const fs::path jobPath = dir / "job.ini";
    std::string error;
    ASSERT_TRUE(writeExportJobFile(jobPath, job, &error)) << error;

    const HelperRun run = runHelper(jobPath);
    EXPECT_EQ(run.exit, 0u) << run.console;
    EXPECT_EQ(run.state, "Success");
    EXPECT_EQ(run.message, c.methodLine.empty() ? c.message + job.outputE57Path : c.message);
    EXPECT_TRUE(
        hasLine(run.console, "[EXPORT JOB] coordScaleToMeters=1 | input=" + job.inputE57Path))
        << run.console;
    if (c.methodLine.empty()) {
        EXPECT_EQ(run.console.find("[EXPORT METHOD]"), std::string::npos) << run.console;
    } else {
        EXPECT_TRUE(hasLine(run.console, c.methodLine)) << run.console;
    }

    std::set<std::string> files = {"job.ini", "job.ini.status.ini", "job.ini.log"};
    for (const Output& o : c.outputs) files.insert(o.name);
    EXPECT_EQ(filesIn(dir), files);
    for (const Output& o : c.outputs) expectOutput(dir, o);
}

struct FailureCase {
    std::string name;
    ExportJob job;
    std::uint32_t exit;
    std::string message;
};

// Failed state with the given message and exit code, and no file beside the job but its logs
// and the files kept.
HelperRun runFailureCase(const fs::path& root, const FailureCase& c,
                         std::set<std::string> kept = {}) {
    SCOPED_TRACE(c.name);
    const fs::path dir = root / c.name;
    const fs::path jobPath = dir / "job.ini";
    std::string error;
    EXPECT_TRUE(writeExportJobFile(jobPath, c.job, &error)) << error;
    const HelperRun run = runHelper(jobPath);
    EXPECT_EQ(run.exit, c.exit) << run.console;
    EXPECT_EQ(run.state, "Failed");
    EXPECT_EQ(run.message, c.message);
    EXPECT_TRUE(
        hasLine(run.console, "[EXPORT JOB] coordScaleToMeters=1 | input=" + c.job.inputE57Path))
        << run.console;
    kept.insert({"job.ini", "job.ini.status.ini", "job.ini.log"});
    EXPECT_EQ(filesIn(dir), kept);
    return run;
}

class ExportHelperModeRun : public testing::Test {
protected:
    testsupport::TempDir dir_;
    Inputs inputs_ = writeInputs(dir_.path());
};

constexpr ExportContent kXyz = ExportContent::Xyz;
constexpr ExportContent kRgb = ExportContent::XyzRgb;
constexpr ExportContent kPhotos = ExportContent::XyzRgbPhotos;

}  // namespace

TEST_F(ExportHelperModeRun, LasInputRowsIgnoreTheExportMode) {
    const Case cases[] = {
        {"a1",
         {&Inputs::las, "out.las", 2, 0, kRgb},
         "LAS binary export finished successfully. Output: ",
         "",
         {{"out.las", Kind::Las, kAll}}},
        // Mode 2 would split an E57 input; a LAS input still gets one output.
        {"a2",
         {&Inputs::las, "out.e57", 0, 2, kRgb},
         "LAS E57 export finished successfully. Output: ",
         "",
         {{"out.e57", Kind::E57, kAll}}},
        {"a3",
         {&Inputs::las, "out.txt", 1, 0, kRgb},
         "LAS XYZ export finished successfully. Output: ",
         "",
         {{"out.txt", Kind::Xyz, kAll}}},
    };
    for (const Case& c : cases) runSuccessCase(dir_.path(), inputs_, c);
}

TEST_F(ExportHelperModeRun, SyntheticLasAndXyzAsciiRows) {
    const Case cases[] = {
        // The upper-case extension alone makes it LAS output.
        {"b",
         {&Inputs::e57, "out.LAS", 0, 0, kRgb},
         "Synthetic LAS export finished successfully. Output: ",
         "",
         {{"out.LAS", Kind::Las, kAll}}},
        {"c",
         {&Inputs::e57, "out.xyz", 1, 0, kRgb},
         "XYZ ASCII export finished successfully. Output: ",
         "",
         {{"out.xyz", Kind::Xyz, kAll}}},
    };
    for (const Case& c : cases) runSuccessCase(dir_.path(), inputs_, c);
}

TEST_F(ExportHelperModeRun, E57OutputRowsByModeAndPhotoFlag) {
    const std::string plain =
        "[EXPORT METHOD] single_combined | native libE57 plain export | XYZ+RGB_if_available";
    const std::string pdal = " | optimized PDAL multi-writer | XYZ+RGB_if_available";
    const Case cases[] = {
        {"combined",
         {&Inputs::e57, "out.e57", 0, 0, kXyz},
         "Export finished successfully. Method: libE57.",
         plain,
         {{"out.e57", Kind::E57, kAll, Colour::Without}}},
        {"split_all",
         {&Inputs::e57, "out.e57", 0, 1, kRgb},
         "Export finished successfully. Method: split_by_all_saved_selections.",
         "[EXPORT METHOD] split_by_all_saved_selections" + pdal,
         {{"out_vertical_01.e57", Kind::E57, kVertical1, Colour::With},
          {"out_vertical_02.e57", Kind::E57, kVertical2, Colour::With},
          {"out_top_01.e57", Kind::E57, kTop, Colour::With}}},
        // Vertical and top splits take colour even when the job asks for none.
        {"split_vertical",
         {&Inputs::e57, "out.e57", 0, 2, kXyz},
         "Export finished successfully. Method: split_by_saved_vertical_selections.",
         "[EXPORT METHOD] split_by_saved_vertical_selections" + pdal,
         {{"out_vertical_01.e57", Kind::E57, kVertical1, Colour::With},
          {"out_vertical_02.e57", Kind::E57, kVertical2, Colour::With}}},
        // A lone output takes the job's own path.
        {"split_top",
         {&Inputs::e57, "out.e57", 0, 3, kXyz},
         "Export finished successfully. Method: split_by_saved_top_selections.",
         "[EXPORT METHOD] split_by_saved_top_selections" + pdal,
         {{"out.e57", Kind::E57, kTop, Colour::With}}},
        {"photo",
         {&Inputs::e57WithPhoto, "out.e57", 0, 0, kPhotos},
         "Export finished successfully. Method: libE57 + temp-merge photos. Image transfer "
         "summary | matched=1 | copied=1 | skipped=0.",
         "[EXPORT METHOD] single_combined | native libE57 temp geometry + photo merge | "
         "XYZ+RGB+photos",
         {{"out.e57", Kind::E57, kAll, Colour::With, 1}}},
        // The photo split gives no summary; it numbers even a lone output.
        {"photo_split_top",
         {&Inputs::e57WithPhoto, "out.e57", 0, 3, kPhotos},
         "Export finished successfully. Method: split_by_saved_top_selections + per-file photo "
         "merge. Photo transfer stage ran, but no detailed image summary is available.",
         "[EXPORT METHOD] split_by_saved_top_selections | native libE57 multi geometry + photo "
         "merge | XYZ+RGB+photos",
         {{"out_top_01.e57", Kind::E57, kTop, Colour::With, 1}}},
    };
    for (const Case& c : cases) runSuccessCase(dir_.path(), inputs_, c);
}

TEST_F(ExportHelperModeRun, XyzInputToOneE57GoesThroughTheSavedSelectionWriter) {
    const Case c{"xyz",
                 {&Inputs::xyz, "out.e57", 0, 0, kRgb},
                 "Export finished successfully. Method: "
                 "single_combined_xyz_via_saved_selection_writer.",
                 "[EXPORT METHOD] single_combined XYZ | routed to XYZ-aware saved-selection "
                 "writer | XYZ+RGB_if_available",
                 {{"out_vertical_01.e57", Kind::E57, kVertical1, Colour::With},
                  {"out_vertical_02.e57", Kind::E57, kVertical2, Colour::With},
                  {"out_top_01.e57", Kind::E57, kTop, Colour::With}}};
    runSuccessCase(dir_.path(), inputs_, c);
}

// A byte order mark before the first line (Windows editors write one) loses no point.
TEST_F(ExportHelperModeRun, AByteOrderMarkBeforeTheXyzInputLosesNoPoint) {
    Inputs marked = inputs_;
    marked.xyz = dir_ / "marked.xyz";
    testsupport::writeFile(marked.xyz, "\xEF\xBB\xBF" + testsupport::readFile(inputs_.xyz));
    const Case cases[] = {
        {"bom_las",
         {&Inputs::xyz, "out.las", 2, 0, kRgb},
         "Synthetic LAS export finished successfully. Output: ",
         "",
         {{"out.las", Kind::Las, kAll}}},
        {"bom_xyz",
         {&Inputs::xyz, "out.xyz", 1, 0, kRgb},
         "XYZ ASCII export finished successfully. Output: ",
         "",
         {{"out.xyz", Kind::Xyz, kAll}}},
        {"bom_e57",
         {&Inputs::xyz, "out.e57", 0, 0, kRgb},
         "Export finished successfully. Method: single_combined_xyz_via_saved_selection_writer.",
         "[EXPORT METHOD] single_combined XYZ | routed to XYZ-aware saved-selection writer | "
         "XYZ+RGB_if_available",
         {{"out_vertical_01.e57", Kind::E57, kVertical1},
          {"out_vertical_02.e57", Kind::E57, kVertical2},
          {"out_top_01.e57", Kind::E57, kTop}}},
        {"bom_split_top",
         {&Inputs::xyz, "out.e57", 0, 3, kRgb},
         "Export finished successfully. Method: split_by_saved_top_selections.",
         "[EXPORT METHOD] split_by_saved_top_selections | optimized PDAL multi-writer | "
         "XYZ+RGB_if_available",
         {{"out.e57", Kind::E57, kTop}}},
    };
    for (const Case& c : cases) runSuccessCase(dir_.path(), marked, c);
}

// In every mode, with the old files of the outputs the same job without photos writes removed:
// the plain output path for one combined output or a split's lone output.
TEST_F(ExportHelperModeRun, PhotosForXyzInputAreRefusedBeforeAnyRoute) {
    struct Row {
        int mode;
        bool fullCoarse;
        std::vector<const char*> oldOutputs;
        std::set<std::string> kept;  // a split's names that one combined output does not write
    };
    const Row rows[] = {
        {0, true, {"out.e57"}, {"out_top_01.e57"}},
        {0, false, {"out_vertical_01.e57", "out_vertical_02.e57", "out_top_01.e57"}, {"out.e57"}},
        {1, false, {"out_vertical_01.e57", "out_vertical_02.e57", "out_top_01.e57"}, {}},
        {2, false, {"out_vertical_01.e57", "out_vertical_02.e57"}, {}},
        {3, false, {"out.e57", "out_top_07.e57"}, {}},
    };
    for (const Row& r : rows) {
        const std::string name = "refused" + std::to_string(r.mode) + (r.fullCoarse ? "all" : "");
        const fs::path dir = dir_ / name;
        fs::create_directories(dir);
        for (const char* old : r.oldOutputs) testsupport::writeFile(dir / old, "old");
        for (const std::string& old : r.kept) testsupport::writeFile(dir / old, "old");
        FailureCase c{name, makeJob(inputs_.xyz, dir / "out.e57", 0, r.mode, kPhotos), 101,
                      "Photo-preserving export is not supported for XYZ input. Disable "
                      "XYZ+RGB+ph and use XYZ or XYZ+RGB."};
        if (r.fullCoarse) {
            c.job.selectedCoarseTiles.clear();
            c.job.selectedHeightRanges.clear();
        }
        // No method was chosen, so no method line; the job line shows the console was captured.
        const std::string console = runFailureCase(dir_.path(), c, r.kept).console;
        EXPECT_EQ(console.find("[EXPORT METHOD]"), std::string::npos) << console;
    }
}

// An E57 file is written with seeks and read back, so every route that writes one refuses a
// device or pipe at any of its outputs before it reads the input, and leaves the node as it is.
TEST_F(ExportHelperModeRun, AnE57OutputRefusesADeviceOrPipe) {
    struct Row {
        const char* name;
        fs::path input;
        const char* node;  // made in the case's folder; the job's output is its out.e57
        int mode;
        ExportContent content;
        const char* prefix;
        bool pipe = false;  // a pipe, not a device: the photo routes refused one before
    };
    const Row rows[] = {
        {"native", inputs_.e57, "out.e57", 0, kRgb, "E57 export"},
        {"las", inputs_.las, "out.e57", 0, kRgb, "LAS -> E57 export"},
        {"xyz", inputs_.xyz, "out_top_01.e57", 0, kRgb, "Split export"},
        {"lone", inputs_.e57, "out.e57", 3, kRgb, "Split export"},
        {"numbered", inputs_.e57, "out_vertical_02.e57", 2, kRgb, "Split export"},
        {"photo_split", inputs_.e57WithPhoto, "out_top_01.e57", 1, kPhotos, "Split export"},
        {"photo", inputs_.e57WithPhoto, "out.e57", 0, kPhotos, "E57 export", true},
        // At the output path of splits that write only numbered names.
        {"xyz_split", inputs_.xyz, "out.e57", 2, kRgb, "Split export"},
        {"photo_split_named", inputs_.e57WithPhoto, "out.e57", 1, kPhotos, "Split export", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const fs::path dir = dir_ / r.name;
        fs::create_directories(dir);
        const fs::path node = dir / r.node;
        if (r.pipe) {
            ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
        } else {
            REQUIRE_CHAR_DEVICE(testsupport::makeNullDevice(node), node);
        }
        const ExportJob job = makeJob(r.input, dir / "out.e57", 0, r.mode, r.content);
        std::string error;
        ASSERT_TRUE(writeExportJobFile(dir / "job.ini", job, &error)) << error;
        const HelperRun run = runHelper(dir / "job.ini");
        EXPECT_EQ(run.exit, 101u) << run.console;
        EXPECT_EQ(run.message,
                  std::string(r.prefix) +
                      " failed: the output path is not a regular file: " + node.string());
        EXPECT_EQ(filesIn(dir),
                  (std::set<std::string>{"job.ini", "job.ini.status.ini", "job.ini.log", r.node}));
        EXPECT_FALSE(fs::is_regular_file(node));
    }
}

TEST_F(ExportHelperModeRun, AFailedRouteReportsItsOwnTextAndExitCode) {
    std::vector<FailureCase> cases;
    const auto job = [&](const std::string& name, const char* input, const char* output,
                         int format) {
        const fs::path dir = dir_ / name;
        fs::create_directories(dir);
        return makeJob(dir / input, dir / output, format, 0, kRgb);
    };
    cases.push_back({"las", job("las", "missing.las", "out.las", 2), 101,
                     "Cannot open LAS input for binary export: LasBinaryPointReader: cannot open "
                     "LAS file (No such file or directory)."});
    const fs::path synthetic = dir_ / "synthetic" / "missing.xyz";
    cases.push_back({"synthetic", job("synthetic", "missing.xyz", "out.las", 2), 102,
                     "Cannot open XYZ input for synthetic LAS export: Could not open XYZ ASCII "
                     "file: " +
                         synthetic.string() + " (No such file or directory)"});
    // An input no route reads, or none, is named as such.
    const fs::path text = dir_ / "text" / "in.txt";
    cases.push_back(
        {"text", job("text", "in.txt", "out.las", 2), 102,
         "Synthetic LAS export failed: the input is not an .e57 or .xyz file: " + text.string()});
    cases.push_back({"noinput", job("noinput", "", "out.las", 2), 102,
                     "Synthetic LAS export failed: the job names no input file (InputE57Path is "
                     "empty)."});
    cases.back().job.inputE57Path.clear();
    // A selection that keeps no point fails the E57 route.
    ExportJob empty = job("e57", "unused", "out.e57", 0);
    empty.inputE57Path = inputs_.e57.string();
    empty.savedTileSelections.clear();
    empty.selectedHeightRanges.clear();
    empty.selectedCoarseTiles = {{9, 9}};
    cases.push_back({"e57", empty, 101,
                     "Export selection produced zero output points. Check tile indices / coarse "
                     "tile size / selection mode."});
    for (const FailureCase& c : cases) runFailureCase(dir_.path(), c);
}

TEST_F(ExportHelperModeRun, AJobThatCannotBeLoadedFailsWith100) {
    const fs::path missing = dir_ / "missing.ini";
    HelperRun run = runHelper(missing);
    EXPECT_EQ(run.exit, 100u);
    EXPECT_EQ(run.state, "Failed");
    EXPECT_EQ(run.message, "Cannot open export job file: " + missing.string());
    EXPECT_EQ(run.console, "");

    // A damaged job names its fault and starts no export.
    std::string error;
    const fs::path jobPath = dir_ / "malformed.ini";
    ASSERT_TRUE(
        writeExportJobFile(jobPath, makeJob(inputs_.e57, dir_ / "out.e57", 0, 0, kRgb), &error))
        << error;
    const std::string good = testsupport::readFile(jobPath);
    // The job with the line of `key` after the `after` header replaced.
    const auto replaced = [&](const std::string& after, const std::string& key,
                              const std::string& line, std::string text = {}) {
        if (text.empty()) text = good;
        const std::size_t at = text.find("\n" + key + "=", text.find(after));
        EXPECT_NE(at, std::string::npos) << key;
        return text.replace(at + 1, text.find('\n', at + 1) - at - 1, line);
    };
    const std::pair<std::string, std::string> cases[] = {
        {replaced("[Job]", "CoarseTileSize", "CoarseTileSize=abc"),
         "[Job] CoarseTileSize=abc is not a number"},
        {"", "section [Job] is missing"},
        {replaced("[Job]", "InputTotalPoints", ""), "[Job] InputTotalPoints is missing"},
        {replaced("[SelectedCoarseTiles]", "Tile1", "Tile1=100000;1080000"),
         "[SelectedCoarseTiles] Tile1=100000;1080000 is not 'x,y'"},
        {replaced("[SelectedCoarseTiles]", "Count", "Count=-5"),
         "[SelectedCoarseTiles] Count=-5 is not a count"},
        // Values that would run as something else than they say.
        {replaced("[Job]", "ExportMode", "ExportMode=7"), "[Job] ExportMode=7 is out of range"},
        {replaced("[Job]", "OutputFormat", "OutputFormat=7"),
         "[Job] OutputFormat=7 is out of range"},
        {replaced("[Job]", "ExportContent", "ExportContent=9"),
         "[Job] ExportContent=9 is out of range"},
        {replaced("[SelectedCoarseTiles]", "Tile0", "Tile0=1.9,0"),
         "[SelectedCoarseTiles] Tile0=1.9,0 is not 'x,y'"},
        // Cut at the NUL byte, the path would name out.e57 as its own temporary file.
        {replaced("[Job]", "OutputE57Path",
                  "OutputE57Path=" + (dir_ / "out.e57").string() + std::string(1, '\0') + ".x"),
         "[Job] OutputE57Path holds a NUL byte"},
        // No file to write: a split would name its files "_top_01" in the current folder.
        {replaced("[Job]", "OutputE57Path", "OutputE57Path="), "[Job] OutputE57Path is empty"},
        {replaced("[Job]", "OutputE57Path",
                  "OutputE57Path=", replaced("[Job]", "ExportMode", "ExportMode=3")),
         "[Job] OutputE57Path is empty"},
        {replaced("[Job]", "OutputE57Path", "OutputE57Path=sub/"),
         "[Job] OutputE57Path=sub/ names a folder, not a file"},
        {replaced("[Job]", "OutputE57Path", "OutputE57Path=sub/",
                  replaced("[Job]", "ExportMode", "ExportMode=3")),
         "[Job] OutputE57Path=sub/ names a folder, not a file"},
    };
    fs::create_directory(dir_ / "sub");
    for (const auto& [text, fault] : cases) {
        testsupport::writeFile(jobPath, text);
        run = runHelper(jobPath);
        EXPECT_EQ(run.exit, 100u);
        EXPECT_EQ(run.state, "Failed");
        EXPECT_EQ(run.message, "Export job file: " + fault);
        EXPECT_EQ(run.console, "");
        EXPECT_FALSE(fs::exists(dir_ / "out.e57"));
        EXPECT_FALSE(fs::exists(dir_ / "_top_01"));
        EXPECT_TRUE(fs::is_empty(dir_ / "sub"));
    }

    // What an editor writes loads: a byte order mark, CRLF, blanks around a path (logged).
    std::string edited = "\xEF\xBB\xBF";
    for (char c :
         replaced("[Job]", "OutputE57Path", "OutputE57Path= " + (dir_ / "out.e57").string() + " "))
        edited += c == '\n' ? std::string("\r\n") : std::string(1, c);
    testsupport::writeFile(jobPath, edited);
    run = runHelper(jobPath);
    EXPECT_EQ(run.exit, 0u) << run.message;
    EXPECT_TRUE(hasLine(run.console,
                        "[EXPORT JOB] OutputE57Path trimmed of surrounding blanks; "
                        "used: '" +
                            (dir_ / "out.e57").string() + "'"))
        << run.console;
    EXPECT_TRUE(fs::exists(dir_ / "out.e57"));
}

// A job whose reports would replace or remove its input, output or job file (the status file
// or a file at its working name), or whose output is the job file, or whose status file cannot
// be made, is refused before anything is removed or written: the file, and an earlier output,
// stay as they were.
TEST_F(ExportHelperModeRun, AJobThatWouldHarmItsOwnFilesIsRefused) {
    struct Row {
        std::string name;
        fs::path Inputs::*input;
        const char* output;
        // Lays out the folder and changes the job; returns the refusal's subject and path.
        std::function<std::string(const fs::path& dir, const fs::path& status, ExportJob& job)>
            setUp;
        const char* jobName = "job.ini";
        const char* jobMovedTo = nullptr;  // the job file moved there, a link left at its name
    };
    const auto inputAt = [](const char* what, bool working, const char* link) {
        return [=](const fs::path& dir, const fs::path& status, ExportJob& job) {
            const fs::path file = working ? fs::path(status.string() + ".tmp") : status;
            fs::copy_file(job.inputE57Path, file);
            job.inputE57Path = file.string();
            if (*link == 's') fs::create_symlink(file, dir / "in");
            if (*link == 'h') fs::create_hard_link(file, dir / "in");
            if (*link != '\0') job.inputE57Path = (dir / "in").string();
            return std::string(what) + " is the input file: " + file.string();
        };
    };
    const auto outputAt = [](bool exists, const char* folderLink) {
        return [=](const fs::path& dir, const fs::path& status, ExportJob& job) {
            if (exists) testsupport::writeFile(status, "earlier status");
            job.outputE57Path = status.string();
            if (*folderLink != '\0') {
                fs::create_directory_symlink(dir, dir / folderLink);
                job.outputE57Path = (dir / folderLink / status.filename()).string();
            }
            return "the status file is the output file: " + status.string();
        };
    };
    const auto outputIsJob = [](double tileSize, const char* link) {
        return [=](const fs::path& dir, const fs::path&, ExportJob& job) {
            job.coarseTileSize = tileSize;
            job.outputE57Path = (dir / "job.ini").string();
            if (*link != '\0') {
                fs::create_symlink(dir / "job.ini", dir / link);
                job.outputE57Path = (dir / link).string();
            }
            return "the output file is the job file: " + job.outputE57Path;
        };
    };
    const auto statusCannot = [](const char* errorText) {
        return [=](const fs::path&, const fs::path& status, ExportJob&) {
            if (status.filename().string().size() <= 255) fs::create_directory(status);
            return "the status file cannot be written: " + status.string() + " (" + errorText + ")";
        };
    };
    // A job file at a name the split clears or a photo export works in.
    const auto jobAtExportName = [](int mode, const char* linkedTo = nullptr) {
        return [=](const fs::path& dir, const fs::path& status, ExportJob& job) {
            job.exportMode = mode;
            const std::string path = status.string();
            return "the job file has the name of one of the export's own files: " +
                   (linkedTo != nullptr ? (dir / linkedTo).string()
                                        : path.substr(0, path.size() - std::strlen(".status.ini")));
        };
    };
    const char* const kStatus = "the status file";
    const char* const kWorking = "the status file's working file";
    const Row rows[] = {
        {"input", &Inputs::e57, "out.e57", inputAt(kStatus, false, "")},
        {"input_symlink", &Inputs::e57, "out.e57", inputAt(kStatus, false, "s")},
        {"input_hardlink", &Inputs::e57, "out.e57", inputAt(kStatus, false, "h")},
        {"working_las", &Inputs::las, "out.las", inputAt(kWorking, true, "")},
        {"working_xyz", &Inputs::xyz, "out.xyz", inputAt(kWorking, true, "")},
        {"working_e57", &Inputs::e57, "out.e57", inputAt(kWorking, true, "")},
        {"output", &Inputs::e57, "out.e57", outputAt(true, "")},
        {"output_new", &Inputs::e57, "out.e57", outputAt(false, "")},
        {"output_new_linked_folder", &Inputs::e57, "out.e57", outputAt(false, "link")},
        {"output_job", &Inputs::e57, "out.e57", outputIsJob(1.0, "")},
        {"output_job_tile0", &Inputs::e57, "out.e57", outputIsJob(0.0, "")},
        {"output_job_symlink", &Inputs::xyz, "out.xyz", outputIsJob(0.0, "alias.xyz")},
        {"status_folder", &Inputs::e57, "out.e57", statusCannot("Is a directory")},
        {std::string(245, 'j'), &Inputs::e57, "out.e57", statusCannot("File name too long")},
        {"job_numbered", &Inputs::e57, "out.e57", jobAtExportName(1), "out_top_07.e57"},
        {"job_photo_working", &Inputs::e57, "out.e57", jobAtExportName(0), "out_geom_tmp.e57"},
        {"job_linked", &Inputs::e57, "out.e57", jobAtExportName(1, "out_vertical_03.e57"),
         "job.ini", "out_vertical_03.e57"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name.substr(0, 30));
        const fs::path dir = dir_ / r.name;
        fs::create_directories(dir);
        const fs::path jobPath = dir / (r.name.size() > 200 ? r.name : r.jobName);
        const fs::path status = helperStatusPath(jobPath);
        ExportJob job = makeJob(inputs_.*r.input, dir / r.output, 1, 0, kRgb);
        job.outputFormat = outputFormatFromExtension(r.output);
        testsupport::writeFile(dir / r.output, "earlier");
        const std::string refusal = r.setUp(dir, status, job);
        std::string error;
        ASSERT_TRUE(writeExportJobFile(jobPath, job, &error)) << error;
        if (r.jobMovedTo != nullptr) {
            fs::rename(jobPath, dir / r.jobMovedTo);
            fs::create_symlink(dir / r.jobMovedTo, jobPath);
        }
        std::map<fs::path, std::string> kept = {{jobPath, testsupport::readFile(jobPath)},
                                                {dir / r.output, "earlier"}};
        kept[job.inputE57Path] = testsupport::readFile(job.inputE57Path);
        std::error_code ec;  // a name past the limit is not there
        const bool statusBefore = fs::exists(fs::symlink_status(status, ec));
        if (fs::is_regular_file(fs::symlink_status(status, ec)))
            kept[status] = testsupport::readFile(status);
        // The one refusal that leaves the status file its own, and reports there.
        const bool reported = refusal.find("output file is the job file") != std::string::npos ||
                              refusal.find("own files") != std::string::npos;
        const HelperRun run = runHelper(jobPath);
        EXPECT_EQ(run.exit, 100u);
        EXPECT_TRUE(hasLine(run.console, "Export job refused: " + refusal)) << run.console;
        for (const auto& [path, bytes] : kept)
            EXPECT_EQ(testsupport::readFile(path), bytes) << path;
        EXPECT_EQ(fs::exists(fs::symlink_status(status, ec)), statusBefore || reported);
    }
}

// Damaged inputs and impossible tile sizes are refused on every route, before any output.
TEST_F(ExportHelperModeRun, DamagedInputsAndTileSizesAreRefused) {
    // The header promises 30 points; the file holds 12 whole ones and a part.
    const fs::path truncated = dir_ / "truncated.las";
    const std::string las = testsupport::readFile(inputs_.las);
    testsupport::writeFile(truncated, las.substr(0, 227 + 12 * 26 + 7));
    std::string shortRecords = las;
    lastest::put<std::uint16_t>(shortRecords, 105, 20);
    const fs::path shortLas = dir_ / "short.las";
    testsupport::writeFile(shortLas, shortRecords);
    std::string nanScale = las;
    lastest::put<double>(nanScale, 131, NAN);
    const fs::path nanLas = dir_ / "nan.las";
    testsupport::writeFile(nanLas, nanScale);
    const fs::path zero = dir_ / "zero.xyz";
    // A link to a device of the test's own (a FIFO where nodes cannot be made).
    const fs::path node = dir_ / "zero-node";
    if (!testsupport::makeZeroDevice(node)) {
        ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
    }
    fs::create_symlink(node, zero);
    std::string compressed = las;
    compressed[104] = static_cast<char>(compressed[104] | 0x80);  // records whole in number
    const fs::path laz = dir_ / "laz.las";
    testsupport::writeFile(laz, compressed);

    std::vector<FailureCase> cases;
    const auto add = [&](const std::string& name, const fs::path& input, const char* output,
                         int format, std::uint32_t exit, const std::string& message,
                         double tileSize = 1.0, int mode = 0) {
        ExportJob job = makeJob(input, dir_ / name / output, format, mode, kRgb);
        job.coarseTileSize = tileSize;
        fs::create_directories(dir_ / name);
        cases.push_back({name, job, exit, message});
    };
    const std::string cut =
        "LasBinaryPointReader: LAS file is truncated: the header says 30 points, the file holds "
        "12.";
    add("t_las", truncated, "out.las", 2, 101, "Cannot open LAS input for binary export: " + cut);
    add("t_e57", truncated, "out.e57", 0, 101, "Cannot open LAS input for E57 export: " + cut);
    add("t_xyz", truncated, "out.xyz", 1, 101, "Cannot open LAS input for export: " + cut);
    add("short", shortLas, "out.las", 2, 101,
        "Cannot open LAS input for binary export: LasBinaryPointReader: point record length 20 "
        "is below the 26 bytes of point format 2.");
    add("nan", nanLas, "out.las", 2, 101,
        "Cannot open LAS input for binary export: LasBinaryPointReader: invalid scale factor.");
    add("laz", laz, "out.las", 2, 101,
        "Cannot open LAS input for binary export: LasBinaryPointReader: compressed (LAZ) point "
        "data is not supported.");
    const std::string notRegular = "XYZ ASCII input is not a regular file: " + zero.string();
    add("z_las", zero, "out.las", 2, 102,
        "Cannot open XYZ input for synthetic LAS export: " + notRegular);
    add("z_e57", zero, "out.e57", 0, 101,
        "Could not open XYZ input for split export: " + zero.string() + " (not a regular file)");
    const std::string size = " failed: coarse tile size must be > 0.";
    add("s_e57", inputs_.e57, "out.e57", 0, 101, "E57 export" + size, 0.0);
    add("s_split", inputs_.e57, "out.e57", 0, 101, "E57 export" + size, -1.0, 1);
    add("s_photo", inputs_.e57WithPhoto, "out.e57", 0, 101, "E57 export" + size, NAN);
    cases.back().job.exportContent = static_cast<std::int32_t>(kPhotos);
    applyExportContentToFlags(cases.back().job);
    add("s_las", inputs_.las, "out.las", 2, 101, "LAS binary export" + size, NAN);
    add("s_synthetic", inputs_.e57, "out.las", 2, 102, "Synthetic LAS export" + size, -1.0);
    for (const FailureCase& c : cases) runFailureCase(dir_.path(), c);

    // This route opens its output before its input; what it leaves there is not checked here.
    add("z_xyz", zero, "out.xyz", 1, 101, "");
    std::string error;
    ASSERT_TRUE(writeExportJobFile(dir_ / "z_xyz" / "job.ini", cases.back().job, &error));
    const HelperRun run = runHelper(dir_ / "z_xyz" / "job.ini");
    EXPECT_EQ(run.exit, 101u);
    EXPECT_EQ(run.message, "Cannot open XYZ input for XYZ ASCII export: " + notRegular);
}

// The job path reaches the helper as one argument, however it reads as a command line.
TEST_F(ExportHelperModeRun, BlanksAndQuotesInTheJobPathAndOutputFolder) {
    const fs::path dir = dir_ / "a \"quoted\" folder with  blanks";
    fs::create_directories(dir);
    const fs::path output = dir / "cut out.e57";
    const fs::path jobPath = dir / "my job.ini";
    std::string error;
    ASSERT_TRUE(writeExportJobFile(jobPath, makeJob(inputs_.e57, output, 0, 0, kRgb), &error))
        << error;
    const HelperRun run = runHelper(jobPath, false);
    EXPECT_EQ(run.exit, 0u);
    EXPECT_EQ(run.state, "Success");
    EXPECT_EQ(run.message, "Export finished successfully. Method: libE57.");
    expectOutput(dir, {"cut out.e57", Kind::E57, kAll});
}

// What a refused, failed or interrupted export leaves behind, on every route: one row per route,
// named by the job that reaches it.
namespace {

constexpr const char* kNativeZero =
    "Export selection produced zero output points. Check tile indices / coarse tile size / "
    "selection mode.";

struct RouteRow {
    const char* name;
    fs::path Inputs::*input;
    const char* output;  // the job's output
    int format;
    int mode;
    ExportContent content;
    const char* firstOutput;  // the first file the route makes
    const char* zeroText;     // the start of its failure when nothing is kept
    const char* workingFile;  // a fixed-name working file the route removes; null: none
};

const RouteRow kRoutes[] = {
    {"las_raw", &Inputs::las, "out.las", 2, 0, kRgb, "out.las",
     "LAS binary export produced zero output points.", nullptr},
    {"las_e57", &Inputs::las, "out.e57", 0, 0, kRgb, "out.e57",
     "LAS -> E57 export produced zero output points.", nullptr},
    {"las_xyz", &Inputs::las, "out.txt", 1, 0, kRgb, "out.txt",
     "LAS export produced zero output points.", nullptr},
    {"synthetic", &Inputs::e57, "out.las", 0, 0, kRgb, "out.las",
     "Synthetic LAS export produced zero selected points.", nullptr},
    {"xyz_ascii", &Inputs::e57, "out.xyz", 1, 0, kRgb, "out.xyz",
     "XYZ ASCII export produced zero output points.", nullptr},
    {"native", &Inputs::e57, "out.e57", 0, 0, kRgb, "out.e57", kNativeZero, nullptr},
    {"split_all", &Inputs::e57, "out.e57", 0, 1, kRgb, "out_vertical_01.e57", kNativeZero, nullptr},
    {"split_vertical", &Inputs::e57, "out.e57", 0, 2, kXyz, "out_vertical_01.e57", kNativeZero,
     nullptr},
    {"split_top", &Inputs::e57, "out.e57", 0, 3, kXyz, "out.e57", kNativeZero, nullptr},
    {"xyz_combined", &Inputs::xyz, "out.e57", 0, 0, kRgb, "out_vertical_01.e57",
     "Single-pass split produced zero points for vertical #1", nullptr},
    {"photo", &Inputs::e57WithPhoto, "out.e57", 0, 0, kPhotos, "out.e57",
     "Photo geometry export produced zero output points.", "out_geom_tmp.e57"},
    {"photo_split_all", &Inputs::e57WithPhoto, "out.e57", 0, 1, kPhotos, "out_vertical_01.e57",
     "Photo multi split produced zero points for vertical #1", "out_vertical_01_geom_tmp.e57"},
    {"photo_split_top", &Inputs::e57WithPhoto, "out.e57", 0, 3, kPhotos, "out_top_01.e57",
     "Photo multi split produced zero points for top #1", "out_top_01_geom_tmp.e57"},
};

const std::set<std::string> kJobFiles = {"job.ini", "job.ini.status.ini", "job.ini.log"};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The row's job in its own new folder root/name.
fs::path writeRowJob(const fs::path& root, const std::string& name, const Inputs& inputs,
                     const RouteRow& r, const std::function<void(ExportJob&)>& change = {}) {
    const fs::path dir = root / name;
    fs::create_directories(dir);
    ExportJob job = makeJob(inputs.*r.input, dir / r.output, r.format, r.mode, r.content);
    if (change) change(job);
    std::string error;
    EXPECT_TRUE(writeExportJobFile(dir / "job.ini", job, &error)) << error;
    return dir / "job.ini";
}

// The kept points only: the job's tiles, height ranges and top selections hold tile (0, 0)
// and (1, 0) alone.
void keepTopOnly(ExportJob& job) {
    job.selectedHeightRanges.clear();
    job.selectedCoarseTiles = {{0, 0}, {1, 0}};
}

void keepNothing(ExportJob& job) {
    job.savedTileSelections = {{{{9, 9}}}};
    job.selectedHeightRanges = {{{{9, 9}}, 0.0, 1.0}};
    job.selectedCoarseTiles = {{9, 9}};
}

// Waits, with a generous bound, until the process has stopped itself.
bool waitUntilStopped(pid_t pid) {
    const std::string statPath = "/proc/" + std::to_string(pid) + "/stat";
    for (int i = 0; i < 60000; ++i) {
        const std::string stat = testsupport::readFile(statPath);
        const std::size_t at = stat.rfind(')');
        if (at == std::string::npos || at + 2 >= stat.size()) return false;
        const char state = stat[at + 2];
        if (state == 'T' || state == 't') return true;
        if (state == 'Z' || state == 'X') return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

std::vector<Point> pointsIn(const fs::path& path) {
    std::vector<Point> got;
    if (path.extension() == ".e57") {
        for (const testsupport::ReadScan& s : testsupport::readE57File(path.string()).scans)
            for (std::size_t i = 0; i < s.x.size(); ++i) got.push_back({s.x[i], s.y[i], s.z[i]});
    } else {
        for (const CloudPoint& p : exporttest::readXyzBack(path)) got.push_back({p.x, p.y, p.z});
    }
    std::sort(got.begin(), got.end());
    return got;
}

bool samePoints(const std::vector<Point>& got, std::vector<Point> want) {
    std::sort(want.begin(), want.end());
    if (got.size() != want.size()) return false;
    for (std::size_t i = 0; i < got.size(); ++i)
        if (std::abs(got[i].x - want[i].x) > 1e-6 || std::abs(got[i].y - want[i].y) > 1e-6 ||
            std::abs(got[i].z - want[i].z) > 1e-6)
            return false;
    return true;
}

}  // namespace

TEST_F(ExportHelperModeRun, AnOutputThatIsTheInputIsRefusedAndTheInputStaysWhole) {
    for (const RouteRow& r : kRoutes) {
        const fs::path input = inputs_.*r.input;
        const std::string bytes = testsupport::readFile(input);
        // Each name the route would write or remove, made a symbolic or a hard link to the input.
        std::vector<std::pair<std::string, std::string>> links = {{"symlink", r.firstOutput},
                                                                  {"hardlink", r.firstOutput}};
        if (r.workingFile) links.push_back({"symlink", r.workingFile});
        for (std::size_t v = 0; v < links.size(); ++v) {
            const std::string name = std::string(r.name) + "_link" + std::to_string(v);
            SCOPED_TRACE(name + " " + links[v].second);
            const fs::path jobPath = writeRowJob(dir_.path(), name, inputs_, r);
            const fs::path link = jobPath.parent_path() / links[v].second;
            if (links[v].first == "symlink")
                fs::create_symlink(input, link);
            else
                fs::create_hard_link(input, link);
            const HelperRun run = runHelper(jobPath);
            EXPECT_EQ(run.state, "Failed");
            EXPECT_TRUE(
                contains(run.message, "the output file is the input file: " + link.string()))
                << run.message;
            EXPECT_TRUE(fs::exists(fs::symlink_status(link)));
            EXPECT_EQ(testsupport::readFile(input), bytes);
        }
    }
    // The job naming the input itself, where the route's output takes the input's format.
    for (const RouteRow& r : kRoutes) {
        const fs::path input = inputs_.*r.input;
        if (std::string(r.output) != r.firstOutput ||
            fs::path(r.output).extension() != input.extension())
            continue;
        SCOPED_TRACE(std::string(r.name) + " onto itself");
        const std::string bytes = testsupport::readFile(input);
        const fs::path jobPath =
            writeRowJob(dir_.path(), std::string(r.name) + "_self", inputs_, r,
                        [&](ExportJob& job) { job.outputE57Path = input.string(); });
        const HelperRun run = runHelper(jobPath);
        EXPECT_EQ(run.state, "Failed");
        EXPECT_TRUE(contains(run.message, "the output file is the input file")) << run.message;
        EXPECT_EQ(testsupport::readFile(input), bytes);
    }
}

// The longest names the file system takes export on every route: 250 bytes with two-byte
// characters in them (for a split, its longest numbered name); only the working names are cut.
TEST_F(ExportHelperModeRun, TheLongestLegalNamesExport) {
    for (const RouteRow& r : kRoutes) {
        SCOPED_TRACE(r.name);
        const std::string first = std::string(r.firstOutput).substr(3);  // after "out"
        std::string stem = "long";
        while (stem.size() + first.size() < 249) stem += "\u00e9";  // two bytes each
        if (stem.size() + first.size() < 250) stem += "x";
        const fs::path jobPath = writeRowJob(dir_.path(), r.name, inputs_, r, [&](ExportJob& job) {
            job.outputE57Path = (fs::path(job.outputE57Path).parent_path() /
                                 (stem + fs::path(r.output).extension().string()))
                                    .string();
        });
        const HelperRun run = runHelper(jobPath);
        EXPECT_EQ(run.state, "Success") << run.message;
        EXPECT_TRUE(fs::exists(jobPath.parent_path() / (stem + first)));
        for (const std::string& name : filesIn(jobPath.parent_path()))
            EXPECT_TRUE(kJobFiles.count(name) || name.rfind(stem, 0) == 0) << name;
    }
    // A job name whose status file takes the last byte the folder allows, its working name cut.
    const fs::path dir = dir_ / "long_job";
    fs::create_directories(dir);
    const fs::path jobPath = dir / (std::string(240, 'j') + ".ini");
    std::string error;
    ASSERT_TRUE(
        writeExportJobFile(jobPath, makeJob(inputs_.e57, dir / "out.e57", 0, 0, kRgb), &error));
    const HelperRun run = runHelper(jobPath);
    EXPECT_EQ(run.exit, 0u) << run.console;
    EXPECT_EQ(run.state, "Success") << run.message;
}

TEST_F(ExportHelperModeRun, NothingKeptFailsWithTheRoutesTextAndLeavesNoFile) {
    for (const RouteRow& r : kRoutes) {
        SCOPED_TRACE(r.name);
        const fs::path jobPath = writeRowJob(dir_.path(), r.name, inputs_, r, keepNothing);
        const HelperRun run = runHelper(jobPath);
        EXPECT_NE(run.exit, 0u);
        EXPECT_EQ(run.state, "Failed");
        EXPECT_EQ(run.message.rfind(r.zeroText, 0), 0u) << run.message;
        EXPECT_EQ(filesIn(jobPath.parent_path()), kJobFiles);
    }
}

// The helper stops itself just before its output would appear and is killed there: only its
// temporary files remain, nothing at an output path.
TEST_F(ExportHelperModeRun, AHelperKilledBeforeItsOutputAppearsLeavesNothingAtTheOutputPath) {
    for (const RouteRow& r : kRoutes) {
        SCOPED_TRACE(r.name);
        const fs::path jobPath = writeRowJob(dir_.path(), r.name, inputs_, r);
        // An earlier export's files: none may stay beside the unfinished ones.
        ASSERT_EQ(runHelper(jobPath).state, "Success");
        platform::ChildProcess child = startHelper(
            jobPath, true,
            "BRINDLEWICK_STOP_BEFORE_PUBLISH=1; export BRINDLEWICK_STOP_BEFORE_PUBLISH;");
        ASSERT_TRUE(child.isOpen());
        EXPECT_TRUE(waitUntilStopped(child.id()));
        // The writer holds its working files' locks, and the kernel drops them at its death.
        const std::vector<std::string> working = exporttest::unfinishedFiles(jobPath.parent_path());
        const auto expectLocked = [&](bool locked) {
            for (const std::string& name : working) {
                platform::File file;
                EXPECT_TRUE(file.openLockable((jobPath.parent_path() / name).string()));
                EXPECT_EQ(file.tryLockExclusive(), !locked) << name;
            }
        };
        expectLocked(true);
        ::kill(child.id(), SIGKILL);
        const HelperRun run = finishHelper(child, jobPath);
        EXPECT_EQ(run.exit, 128u + SIGKILL);
        expectLocked(false);
        std::size_t temporaries = 0;
        for (const std::string& name : filesIn(jobPath.parent_path())) {
            if (kJobFiles.count(name)) continue;
            EXPECT_TRUE(contains(name, ".unfinished-") || contains(name, "_tmp.")) << name;
            ++temporaries;
        }
        EXPECT_GT(temporaries, 0u);
        EXPECT_FALSE(fs::exists(jobPath.parent_path() / r.firstOutput));
    }
}

// A helper killed while it loads its job (a large one takes seconds) leaves its own first
// report, not the previous run's success.
TEST_F(ExportHelperModeRun, AHelperKilledBeforeItsFirstReportLeavesNoEarlierSuccess) {
    const fs::path jobPath = writeRowJob(dir_.path(), "killed", inputs_, kRoutes[0]);
    ASSERT_EQ(runHelper(jobPath).state, "Success");
    // Nor does a start refused for a first report the full disk does not take.
    {
        const testsupport::SmallDisk disk(dir_ / "disk", 64 * 1024);
        if (disk.mounted()) {
            const fs::path full = disk.path() / "job.ini";
            fs::copy_file(jobPath, full);
            fs::copy_file(helperStatusPath(jobPath), helperStatusPath(full));
            std::ofstream fill(disk.path() / "fill", std::ios::binary);
            const std::string block(4096, 'x');
            while (fill.write(block.data(), block.size())) {
            }
            EXPECT_EQ(runHelper(full, false).exit, 100u);
            EXPECT_FALSE(fs::exists(helperStatusPath(full)));
        }
    }
    platform::ChildProcess child =
        startHelper(jobPath, true,
                    "BRINDLEWICK_STOP_BEFORE_JOB_LOAD=1; export BRINDLEWICK_STOP_BEFORE_JOB_LOAD;");
    ASSERT_TRUE(child.isOpen());
    EXPECT_TRUE(waitUntilStopped(child.id()));
    ::kill(child.id(), SIGKILL);
    const HelperRun run = finishHelper(child, jobPath);
    EXPECT_EQ(run.state, "Running");
    EXPECT_EQ(run.message, "Helper process started.");
}

// A good export, then a failed or refused one of the same job changed (a damaged input, tile
// size 0, no selection for a split, an input of the wrong kind, photos asked for XYZ input):
// nothing of the earlier export stays at any output path.
TEST_F(ExportHelperModeRun, AFailureAfterAGoodExportLeavesNoneOfItsFiles) {
    std::vector<RouteRow> rows(std::begin(kRoutes), std::end(kRoutes));
    rows.push_back({"xyz_las", &Inputs::xyz, "out.las", 2, 0, kRgb, "out.las", "", nullptr});
    rows.push_back({"xyz_xyz", &Inputs::xyz, "out.xyz", 1, 0, kRgb, "out.xyz", "", nullptr});
    rows.push_back(
        {"xyz_split", &Inputs::xyz, "out.e57", 0, 1, kRgb, "out_vertical_01.e57", "", nullptr});
    rows.push_back({"fallback", &Inputs::spherical, "out.e57", 0, 0, kRgb, "out.e57", "", nullptr});
    // A damaged copy of each input beside it: E57 and LAS cut in half, XYZ missing.
    const auto damaged = [&](const fs::path& input) {
        const fs::path copy = input.parent_path() / ("damaged_" + input.filename().string());
        if (input.extension() != ".xyz" && !fs::exists(copy)) {
            const std::string bytes = testsupport::readFile(input);
            testsupport::writeFile(copy, bytes.substr(0, bytes.size() / 2));
        }
        return copy.string();
    };
    const fs::path text = dir_ / "source.txt";
    fs::copy_file(inputs_.xyz, text);
    struct Fault {
        std::string name;
        std::function<void(ExportJob&)> change;
    };
    std::vector<std::pair<RouteRow, Fault>> cases;
    for (const RouteRow& r : rows) {
        cases.push_back({r, {"damaged", [&, r](ExportJob& job) {
                                 job.inputE57Path = damaged(inputs_.*r.input);
                             }}});
        cases.push_back({r, {"tile0", [](ExportJob& job) { job.coarseTileSize = 0.0; }}});
        // A split without any selection: refused, and the job's output path cleared.
        if (std::string(r.name) == "native" || std::string(r.name) == "photo")
            cases.push_back({r, {"no_selection", [](ExportJob& job) {
                                     job.exportMode = 3;
                                     job.savedTileSelections.clear();
                                 }}});
        if (std::string(r.name) == "synthetic")
            cases.push_back(
                {r, {"kind", [&](ExportJob& job) { job.inputE57Path = text.string(); }}});
        if (std::string(r.name) == "xyz_combined")
            cases.push_back({r, {"photos", [](ExportJob& job) {
                                     job.exportContent = static_cast<std::int32_t>(kPhotos);
                                     applyExportContentToFlags(job);
                                 }}});
    }
    for (const auto& [r, fault] : cases) {
        const std::string name = std::string(r.name) + "_" + fault.name;
        SCOPED_TRACE(name);
        const fs::path jobPath = writeRowJob(dir_.path(), name, inputs_, r);
        const HelperRun good = runHelper(jobPath);
        ASSERT_EQ(good.state, "Success") << good.message;
        ASSERT_TRUE(fs::exists(jobPath.parent_path() / r.firstOutput));
        writeRowJob(dir_.path(), name, inputs_, r, fault.change);
        const HelperRun run = runHelper(jobPath);
        EXPECT_EQ(run.state, "Failed");
        EXPECT_EQ(filesIn(jobPath.parent_path()), kJobFiles) << run.message;
    }
}

// A pipe named as an output holds no earlier export: a refused job leaves it.
TEST_F(ExportHelperModeRun, ARefusedJobLeavesAPipeAtItsOutputPath) {
    for (const RouteRow& r : kRoutes) {
        SCOPED_TRACE(r.name);
        const fs::path jobPath = writeRowJob(dir_.path(), r.name, inputs_, r,
                                             [](ExportJob& job) { job.coarseTileSize = 0.0; });
        const fs::path pipe = jobPath.parent_path() / r.firstOutput;
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        EXPECT_EQ(runHelper(jobPath).state, "Failed");
        EXPECT_TRUE(fs::is_fifo(fs::symlink_status(pipe)));
    }
}

// A split whose last output would be the input is refused before any of its files is written
// or removed: an earlier export's file stays as it was.
TEST_F(ExportHelperModeRun, ASplitWhoseLastOutputIsTheInputIsRefusedBeforeAnyFile) {
    const RouteRow rows[] = {
        {"native", &Inputs::e57, "out.e57", 0, 1, kRgb, "", "", nullptr},
        {"photo", &Inputs::e57WithPhoto, "out.e57", 0, 1, kPhotos, "", "", nullptr},
        {"xyz", &Inputs::xyz, "out.e57", 0, 1, kRgb, "", "", nullptr},
    };
    for (const RouteRow& r : rows) {
        SCOPED_TRACE(r.name);
        const fs::path input = inputs_.*r.input;
        const std::string bytes = testsupport::readFile(input);
        const fs::path jobPath = writeRowJob(dir_.path(), r.name, inputs_, r, [](ExportJob& job) {
            job.savedTileSelections.push_back({{{4, 0}}});
        });
        const fs::path dir = jobPath.parent_path();
        fs::create_hard_link(input, dir / "out_top_02.e57");
        testsupport::writeFile(dir / "out_vertical_01.e57", "earlier");
        const HelperRun run = runHelper(jobPath);
        EXPECT_EQ(run.state, "Failed");
        EXPECT_EQ(run.message, "Split export failed: the output file is the input file: " +
                                   (dir / "out_top_02.e57").string());
        std::set<std::string> files = kJobFiles;
        files.insert({"out_top_02.e57", "out_vertical_01.e57"});
        EXPECT_EQ(filesIn(dir), files);
        EXPECT_EQ(testsupport::readFile(dir / "out_vertical_01.e57"), "earlier");
        EXPECT_EQ(testsupport::readFile(input), bytes);
    }
}

// A split by export mode owns its numbered names: a rerun with fewer selections leaves none of
// the earlier run's extra outputs, nor an earlier lone output, and nothing the naming does not
// give. One combined output of XYZ input (mode 0) removes only the names it writes.
TEST_F(ExportHelperModeRun, ARerunWithFewerSelectionsLeavesNoneOfTheEarlierOutputs) {
    struct Row {
        RouteRow route;
        std::set<std::string> more;  // earlier outputs the rerun leaves, and its vertical ones
    };
    const Row rows[] = {
        {{"native", &Inputs::e57, "out.e57", 0, 3, kRgb, "", "", nullptr}, {}},
        {{"photo", &Inputs::e57WithPhoto, "out.e57", 0, 3, kPhotos, "", "", nullptr}, {}},
        {{"xyz", &Inputs::xyz, "out.e57", 0, 3, kRgb, "", "", nullptr}, {}},
        {{"xyz_combined", &Inputs::xyz, "out.e57", 0, 0, kRgb, "", "", nullptr},
         {"out.e57", "out_vertical_100.e57", "out_top_04.e57", "out_top_05.e57",
          "out_vertical_01.e57", "out_vertical_02.e57"}},
    };
    const auto topSelections = [](std::int64_t count) {
        return [count](ExportJob& job) {
            job.savedTileSelections.clear();
            for (std::int64_t ix = 0; ix < count; ++ix)
                job.savedTileSelections.push_back({{{ix, 0}}});
        };
    };
    const std::set<std::string> notOurs = {"out_top_1x.e57", "out_top_001.e57", "out_top_00.e57",
                                           "out_top_04.xyz", "cut_top_04.e57"};
    for (const Row& row : rows) {
        const RouteRow& r = row.route;
        SCOPED_TRACE(r.name);
        const fs::path jobPath = writeRowJob(dir_.path(), r.name, inputs_, r, topSelections(5));
        ASSERT_EQ(runHelper(jobPath).state, "Success");
        const fs::path dir = jobPath.parent_path();
        ASSERT_TRUE(fs::exists(dir / "out_top_05.e57"));
        for (const std::string& name : notOurs) testsupport::writeFile(dir / name, "not ours");
        for (const char* name : {"out.e57", "out_vertical_100.e57"})
            testsupport::writeFile(dir / name, "earlier");
        fs::create_directory(dir / "out_vertical_07.e57");
        writeRowJob(dir_.path(), r.name, inputs_, r, topSelections(3));
        EXPECT_EQ(runHelper(jobPath).state, "Success");
        std::set<std::string> files = kJobFiles;
        files.insert(notOurs.begin(), notOurs.end());
        files.insert(row.more.begin(), row.more.end());
        files.insert({"out_vertical_07.e57", "out_top_01.e57", "out_top_02.e57", "out_top_03.e57"});
        EXPECT_EQ(filesIn(dir), files);
    }
}

// The working files of an output whose writers no longer run are removed by its next export;
// a running writer's file stays, and so does a dead writer's file of another output.
TEST_F(ExportHelperModeRun, ANewExportRemovesOnlyTheWorkingFilesOfWritersGone) {
    platform::ChildProcess ended;
    std::string error;
    ASSERT_TRUE(ended.start({"/bin/true"}, dir_.path(), &error)) << error;
    while (ended.waitFor(1000) == platform::ChildProcess::Wait::TimedOut) {
    }
    const auto workingName = [](const fs::path& output, long pid, int n = 1) {
        return fitFileName(output.parent_path(), output.filename().string(),
                           ".unfinished-" + std::to_string(pid) + "-" + std::to_string(n) + ".tmp");
    };
    struct Case {
        RouteRow row;
        std::string output, firstOutput;
    };
    std::vector<Case> cases;
    for (const RouteRow& r : kRoutes) cases.push_back({r, r.output, r.firstOutput});
    const std::string longName = std::string(250, 'n') + ".e57";  // its working names are cut
    cases.push_back({kRoutes[5], longName, longName});
    // A split's earlier names with no finished file: a numbered one it does not write now, and
    // the output path beside numbered outputs.
    cases.push_back({kRoutes[8], "out.e57", "out_top_03.e57"});
    cases.push_back({kRoutes[6], "out.e57", "out.e57"});
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const RouteRow& r = c.row;
        const std::string name = r.name + std::to_string(i);
        SCOPED_TRACE(name);
        const fs::path jobPath = writeRowJob(dir_.path(), name, inputs_, r, [&](ExportJob& job) {
            job.outputE57Path = (fs::path(job.outputE57Path).parent_path() / c.output).string();
        });
        const fs::path dir = jobPath.parent_path();
        const fs::path first = dir / c.firstOutput;
        const std::string dead = workingName(first, ended.id());
        const std::string live = workingName(first, ::getpid());
        const std::string other = workingName(dir / "other.e57", ended.id());
        // A writer in another pid namespace or on another machine: its id is none here, but
        // it holds its file's lock.
        const std::string locked = workingName(first, ended.id(), 2);
        for (const std::string& name : {dead, live, other, locked})
            testsupport::writeFile(dir / name, "x");
        platform::File writer;
        ASSERT_TRUE(writer.openLockable((dir / locked).string()) && writer.tryLockExclusive());
        EXPECT_EQ(runHelper(jobPath).state, "Success");
        EXPECT_FALSE(fs::exists(dir / dead));
        EXPECT_TRUE(fs::exists(dir / live));
        EXPECT_TRUE(fs::exists(dir / other));
        EXPECT_TRUE(fs::exists(dir / locked));
    }
}

class ExportHelperModeLargeRun : public testing::Test {
protected:
    static constexpr int kRepeat = 2000;  // 60,000 points: every output passes 64 KiB
    testsupport::TempDir dir_;
    Inputs inputs_ = writeInputs(dir_.path(), kRepeat);
};

// Writes stop at 64 KiB (the shell's file size limit, SIGXFSZ ignored): the export fails with
// the system's reason and leaves no output and no temporary file.
TEST_F(ExportHelperModeLargeRun, AFullOutputLeavesNothingAndSaysWhy) {
    for (const RouteRow& r : kRoutes) {
        SCOPED_TRACE(r.name);
        const fs::path jobPath = writeRowJob(dir_.path(), r.name, inputs_, r);
        const HelperRun run = runHelper(jobPath, true, "trap '' XFSZ; ulimit -f 128;");
        EXPECT_EQ(run.state, "Failed");
        EXPECT_TRUE(contains(run.message, "File too large")) << run.message;
        EXPECT_EQ(filesIn(jobPath.parent_path()), kJobFiles);
    }
}

// Two helpers with different selections write one output at once: each either succeeds or
// refuses, and the output is whole and exactly one successful job's result.
TEST_F(ExportHelperModeLargeRun, TwoHelpersOnOneOutputLeaveOneWholeExport) {
    for (const RouteRow& r : kRoutes) {
        const std::string name = r.name;
        if (name != "xyz_ascii" && name != "native" && name != "photo") continue;
        SCOPED_TRACE(name);
        const fs::path all = writeRowJob(dir_.path(), name + "/a", inputs_, r);
        const fs::path top = writeRowJob(dir_.path(), name + "/b", inputs_, r, keepTopOnly);
        // Both jobs name the same output.
        const fs::path output = dir_.path() / name / r.output;
        for (const fs::path& jobPath : {all, top}) {
            ExportJob job;
            std::string error;
            ASSERT_TRUE(loadExportJobFile(jobPath, job, &error)) << error;
            job.outputE57Path = output.string();
            ASSERT_TRUE(writeExportJobFile(jobPath, job, &error)) << error;
        }
        platform::ChildProcess first = startHelper(all);
        platform::ChildProcess second = startHelper(top);
        const HelperRun runs[] = {finishHelper(first, all), finishHelper(second, top)};
        const int selections[] = {kAll, kTop};
        const std::vector<Point> got = pointsIn(output);
        bool matched = false;
        for (int i = 0; i < 2; ++i) {
            if (runs[i].state == "Success") {
                matched = matched || samePoints(got, keptBy(selections[i], kRepeat));
            } else {
                EXPECT_TRUE(contains(runs[i].message, "another export is writing this output"))
                    << runs[i].message;
            }
        }
        EXPECT_TRUE(matched) << got.size() << " points";
        EXPECT_EQ(filesIn(dir_.path() / name), (std::set<std::string>{"a", "b", r.output}));
        EXPECT_TRUE(exporttest::unfinishedFiles(dir_.path() / name).empty());
    }
}

// libE57Format would wait on a FIFO for a writer: every route with E57 input refuses it first.
TEST_F(ExportHelperModeRun, AFifoAsTheE57InputIsRefusedAtOnce) {
    const fs::path fifo = dir_ / "fifo.e57";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const RouteRow& r : kRoutes) {
        if (r.input != &Inputs::e57 && r.input != &Inputs::e57WithPhoto) continue;
        SCOPED_TRACE(r.name);
        const fs::path jobPath = writeRowJob(dir_.path(), r.name, inputs_, r, [&](ExportJob& job) {
            job.inputE57Path = fifo.string();
        });
        platform::ChildProcess child = startHelper(jobPath);
        ASSERT_TRUE(child.isOpen());
        // A helper still waiting after a generous bound is stopped: that is the failure.
        using Wait = platform::ChildProcess::Wait;
        Wait wait = Wait::TimedOut;
        for (int second = 0; second < 120 && wait == Wait::TimedOut; ++second)
            wait = child.waitFor(1000);
        if (wait == Wait::TimedOut) {
            ::kill(child.id(), SIGKILL);
            ADD_FAILURE() << "the helper waits on the FIFO";
        }
        const HelperRun run = finishHelper(child, jobPath);
        EXPECT_EQ(run.exit, std::string(r.name) == "synthetic" ? 102u : 101u);
        EXPECT_EQ(run.state, "Failed");
        EXPECT_TRUE(contains(run.message, "E57 input is not a regular file: " + fifo.string()))
            << run.message;
        EXPECT_EQ(filesIn(jobPath.parent_path()), kJobFiles);
    }
}

// A flipped byte in the middle of an E57 input fails the export part-way: nothing is left.
TEST_F(ExportHelperModeLargeRun, ACorruptPageInTheInputLeavesNothing) {
    for (const RouteRow& r : kRoutes) {
        if (r.input != &Inputs::e57 && r.input != &Inputs::e57WithPhoto) continue;
        SCOPED_TRACE(r.name);
        const fs::path bad = dir_.path() / (std::string(r.name) + "_bad.e57");
        std::string bytes = testsupport::readFile(inputs_.*r.input);
        bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5A);
        testsupport::writeFile(bad, bytes);
        const fs::path jobPath = writeRowJob(dir_.path(), r.name, inputs_, r, [&](ExportJob& job) {
            job.inputE57Path = bad.string();
        });
        const HelperRun run = runHelper(jobPath);
        EXPECT_EQ(run.state, "Failed");
        EXPECT_EQ(filesIn(jobPath.parent_path()), kJobFiles);
    }
}

namespace {

// Every report of a helper run in this process, in order: the status path is a pipe, which
// each report is written into in place. "State: Message" per report.
std::vector<std::string> reportsOfRun(const ExportJob& job, const fs::path& statusPath,
                                      int* exitCode) {
    EXPECT_EQ(::mkfifo(statusPath.c_str(), 0600), 0);
    const int pipe = ::open(statusPath.c_str(), O_RDWR | O_NONBLOCK);
    EXPECT_GE(pipe, 0);
    testing::internal::CaptureStdout();
    *exitCode = runHelperExport(job, statusPath);
    testing::internal::GetCapturedStdout();
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipe, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(pipe);
    std::vector<std::string> reports;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("State=")) reports.push_back(line.substr(6));
        if (line.starts_with("Message=")) reports.back() += ": " + line.substr(8);
    }
    return reports;
}

}  // namespace

// The method is reported before the route's own reports; an exception that leaves the route
// ends the helper with its own exit code and text, and no output.
TEST_F(ExportHelperModeRun, MethodReportFirstAndExceptionsLeavingTheRoute) {
    struct Case {
        const char* name;
        const char* routeThrows;
        int exit;
        std::string last;
    } const cases[] = {
        {"ok", "", 0, "Success: Export finished successfully. Method: libE57."},
        {"no memory", "bad_alloc", 102, "Failed: Out of memory during helper export."},
        {"exception", "disk on fire", 103, "Failed: Helper export failed | what=disk on fire"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = dir_ / c.name;
        fs::create_directories(dir);
        const ExportJob job = makeJob(inputs_.e57, dir / "out.e57", 0, 0, kRgb);
        ::setenv("BRINDLEWICK_TEST_ROUTE_THROWS", c.routeThrows, 1);
        int exit = -1;
        const std::vector<std::string> reports = reportsOfRun(job, dir / "status", &exit);
        ::unsetenv("BRINDLEWICK_TEST_ROUTE_THROWS");
        EXPECT_EQ(exit, c.exit);
        ASSERT_GE(reports.size(), 3u);
        EXPECT_EQ(reports[0], "Running: Export job loaded. Starting export...");
        EXPECT_EQ(reports[1], "Running: Chosen export method: single_combined | input=" +
                                  job.inputE57Path + " | output=" + job.outputE57Path +
                                  " | selectedTiles=4 | selectedHeightRanges=2 | "
                                  "savedTileSelections=1");
        EXPECT_EQ(reports.back(), c.last);
        EXPECT_EQ(fs::exists(job.outputE57Path), c.exit == 0);
    }
}

namespace {

// Every coordinate of an output, as written (an XYZ token "nan" reads as NaN).
std::vector<double> outputCoordinates(const fs::path& path, Kind kind) {
    std::vector<double> out;
    if (kind == Kind::E57) {
        for (const testsupport::ReadScan& s : testsupport::readE57File(path.string()).scans)
            for (std::size_t i = 0; i < s.x.size(); ++i)
                out.insert(out.end(), {s.x[i], s.y[i], s.z[i]});
    } else if (kind == Kind::Las) {
        for (const CloudPoint& p : exporttest::readLasBack(path).points)
            out.insert(out.end(), {p.x, p.y, p.z});
    } else {
        std::istringstream lines(testsupport::readFile(path));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream tokens(line);
            std::string t[3];
            tokens >> t[0] >> t[1] >> t[2];
            for (const std::string& token : t) out.push_back(std::strtod(token.c_str(), nullptr));
        }
    }
    return out;
}

struct DroppedCase {
    const char* name;
    fs::path input;
    const char* output;
    int format, mode;
    ExportContent content;
    std::string message;  // rows ending in the output path: the text before it, then the note
    const char* note;
    std::vector<std::pair<const char*, Kind>> outputs;
    bool fullCoarse = false;  // no tile filter: the preparation's full coarse selection
};

// Runs the rows' jobs through the program and checks the final message and the outputs.
void runDroppedCases(const fs::path& root, const std::vector<DroppedCase>& cases) {
    for (const DroppedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = root / c.name;
        fs::create_directories(dir);
        ExportJob job = makeJob(c.input, dir / c.output, c.format, c.mode, c.content);
        if (c.fullCoarse) {
            job.selectedCoarseTiles.clear();
            job.selectedHeightRanges.clear();
        }
        std::string error;
        ASSERT_TRUE(writeExportJobFile(dir / "job.ini", job, &error)) << error;
        const HelperRun run = runHelper(dir / "job.ini");
        EXPECT_EQ(run.exit, 0u) << run.console;
        EXPECT_EQ(run.state, "Success");
        const bool pathLast = c.message.find("Output: ") != std::string::npos;
        EXPECT_EQ(run.message, pathLast ? c.message + job.outputE57Path + " (" + c.note + ")"
                                        : c.message + " " + c.note + ".");
        for (const auto& [name, kind] : c.outputs) {
            const std::vector<double> v = outputCoordinates(dir / name, kind);
            EXPECT_FALSE(v.empty()) << name;
            EXPECT_EQ(std::count_if(v.begin(), v.end(), [](double d) { return !std::isfinite(d); }),
                      0)
                << name;
        }
    }
}

}  // namespace

// Lines a route's grammar does not read as points are counted in its final message: the text
// fourth token is refused where the fourth token is read as intensity, and kept by the XYZ
// split, which reads none.
TEST_F(ExportHelperModeRun, SkippedLinesAreCountedInTheStatus) {
    const fs::path xyz = dir_ / "bad_lines.xyz";
    testsupport::writeFile(
        xyz, testsupport::readFile(inputs_.xyz) + "0.5 0.5 0.5 ground\nnot a point\n1.5 0.5 0.5\n");
    const std::vector<DroppedCase> cases = {
        {"las",
         xyz,
         "out.las",
         2,
         0,
         kRgb,
         "Synthetic LAS export finished successfully. Output: ",
         "2 lines skipped: not read as points",
         {{"out.las", Kind::Las}}},
        {"xyz",
         xyz,
         "out.xyz",
         1,
         0,
         kRgb,
         "XYZ ASCII export finished successfully. Output: ",
         "2 lines skipped: not read as points",
         {{"out.xyz", Kind::Xyz}}},
        {"e57",
         xyz,
         "out.e57",
         0,
         0,
         kRgb,
         "Export finished successfully. Method: single_combined_xyz_via_saved_selection_writer.",
         "1 line skipped: not read as points",
         {{"out_top_01.e57", Kind::E57}}},
    };
    runDroppedCases(dir_.path(), cases);
}

// A finite point no tile holds (its tile number past 64 bits), and for LAS output one past the
// LAS coordinate range, is counted where it is left out, also when no tile filter applies.
TEST_F(ExportHelperModeRun, FarPointsLeftOutAreCounted) {
    const fs::path xyz = dir_ / "far.xyz";
    testsupport::writeFile(xyz, testsupport::readFile(inputs_.xyz) +
                                    "1e30 5400010 110\n0.5 3.4e38 1\n0.5 0.5 1e308\n"
                                    "0.5 0.5 -1e308\n0.5 0.5 3.4e38\n-1e13 0.5 1\n");
    // An x scale so large that a stored integer is far past the grid.
    lastest::LasTestHeader header;
    header.scale[0] = 1e25;
    header.legacyCount = 2;
    const fs::path las = dir_ / "far.las";
    testsupport::writeFile(las, lastest::makeLasFile(header, {{0, 25, 50}, {2000000000, 25, 50}}));
    const char* two = "2 points dropped: outside the tile grid";
    const std::vector<DroppedCase> cases = {
        {"xyz",
         xyz,
         "out.xyz",
         1,
         0,
         kRgb,
         "XYZ ASCII export finished successfully. Output: ",
         two,
         {{"out.xyz", Kind::Xyz}},
         true},
        {"las",
         xyz,
         "out.las",
         2,
         0,
         kRgb,
         "Synthetic LAS export finished successfully. Output: ",
         "2 points dropped: outside the tile grid; 4 points dropped: outside the LAS coordinate "
         "range",
         {{"out.las", Kind::Las}},
         true},
        {"las_las",
         las,
         "out.las",
         2,
         0,
         kRgb,
         "LAS binary export finished successfully. Output: ",
         "1 point dropped: outside the tile grid",
         {{"out.las", Kind::Las}},
         true},
        {"las_xyz",
         las,
         "out.xyz",
         1,
         0,
         kRgb,
         "LAS XYZ export finished successfully. Output: ",
         "1 point dropped: outside the tile grid",
         {{"out.xyz", Kind::Xyz}}},
    };
    runDroppedCases(dir_.path(), cases);
}

// Points with a NaN or infinite coordinate are dropped and counted on every route; the
// selections keep tiles 0 and 1 at any height, so only the finiteness test stops them.
TEST_F(ExportHelperModeRun, NoRouteWritesANonFiniteCoordinate) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    testsupport::TestScan scan;
    scan.guid = "scan-A";
    scan.hasColour = true;
    for (const Point& p : sourcePoints()) scan.add(p.x, p.y, p.z);
    scan.add(0.25, 0.25, nan);
    scan.add(0.75, 0.5, inf);
    scan.add(nan, 0.25, 0.5);
    const fs::path e57 = dir_ / "nonfinite.e57", spherical = dir_ / "spherical.e57";
    testsupport::writeE57Source(e57.string(), "source-guid", {scan},
                                {{"img-A", "scan-A", kPhotoBlob}});
    scan.cartesian = false;  // only the PDAL stage reads it
    testsupport::writeE57Source(spherical.string(), "source-guid", {scan});
    // A z scale so large that a stored integer overflows the double.
    lastest::LasTestHeader header;
    header.scale[2] = 1e300;
    header.legacyCount = 4;
    const fs::path las = dir_ / "nonfinite.las";
    testsupport::writeFile(
        las, lastest::makeLasFile(header,
                                  {{25, 25, 0}, {75, 50, 0}, {125, 25, 0}, {25, 25, 2000000000}}));

    const std::string done = "Export finished successfully. Method: ";
    const char* three = "3 points dropped: non-finite coordinates";
    const char* one = "1 point dropped: non-finite coordinates";
    const std::vector<DroppedCase> cases = {
        {"native", e57, "out.e57", 0, 0, kRgb, done + "libE57.", three, {{"out.e57", Kind::E57}}},
        {"pdal",
         spherical,
         "out.e57",
         0,
         0,
         kRgb,
         done + "PDAL XYZ fallback.",
         three,
         {{"out.e57", Kind::E57}}},
        {"split",
         e57,
         "out.e57",
         0,
         1,
         kRgb,
         done + "split_by_all_saved_selections.",
         three,
         {{"out_top_01.e57", Kind::E57}, {"out_vertical_01.e57", Kind::E57}}},
        {"photo",
         e57,
         "out.e57",
         0,
         0,
         kPhotos,
         done + "libE57 + temp-merge photos. Image transfer summary | matched=1 | copied=1 | "
                "skipped=0.",
         three,
         {{"out.e57", Kind::E57}}},
        {"photo_split",
         e57,
         "out.e57",
         0,
         3,
         kPhotos,
         done + "split_by_saved_top_selections + per-file photo merge. Photo transfer stage "
                "ran, but no detailed image summary is available.",
         three,
         {{"out_top_01.e57", Kind::E57}}},
        {"e57_las",
         e57,
         "out.las",
         2,
         0,
         kRgb,
         "Synthetic LAS export finished successfully. Output: ",
         three,
         {{"out.las", Kind::Las}}},
        {"e57_xyz",
         e57,
         "out.xyz",
         1,
         0,
         kRgb,
         "XYZ ASCII export finished successfully. Output: ",
         three,
         {{"out.xyz", Kind::Xyz}}},
        {"las_las",
         las,
         "out.las",
         2,
         0,
         kRgb,
         "LAS binary export finished successfully. Output: ",
         one,
         {{"out.las", Kind::Las}}},
        {"las_e57",
         las,
         "out.e57",
         0,
         0,
         kRgb,
         "LAS E57 export finished successfully. Output: ",
         one,
         {{"out.e57", Kind::E57}}},
        {"las_xyz",
         las,
         "out.xyz",
         1,
         0,
         kRgb,
         "LAS XYZ export finished successfully. Output: ",
         one,
         {{"out.xyz", Kind::Xyz}}},
    };
    runDroppedCases(dir_.path(), cases);
}
