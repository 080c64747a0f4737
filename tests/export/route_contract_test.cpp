#include "export/route_contract.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <stdexcept>

#include "export/export_test_util.h"
#include "export/output_file.h"
#include "platform/file_io.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

std::string failureOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no failure)";
}

TEST(RouteContract, TileSizeMustBePositive) {
    ExportJob job;
    for (double size : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        job.coarseTileSize = size;
        EXPECT_EQ(failureOf([&] { checkRouteTileSize(job, kLasToXyzWords); }),
                  "LAS export failed: coarse tile size must be > 0.");
    }
    job.coarseTileSize = 1e-9;
    EXPECT_EQ(failureOf([&] { checkRouteTileSize(job, kLasToE57Words); }), "(no failure)");
}

TEST(RouteContract, OutputFolderIsCreatedOrFailsWithTheSystemText) {
    TempDir dir;
    ExportJob job;
    job.inputE57Path = (dir / "in.las").string();
    job.outputE57Path = (dir / "a" / "b" / "out.xyz").string();
    EXPECT_EQ(failureOf([&] { prepareRouteOutput(job, kXyzAsciiWords); }), "(no failure)");
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b"));
    EXPECT_EQ(failureOf([&] { prepareRouteOutput(job, kXyzAsciiWords); }), "(no failure)");

    testsupport::writeFile(dir / "file", "x");
    job.outputE57Path = (dir / "file" / "sub" / "out.xyz").string();
    const std::string text = failureOf([&] { prepareRouteOutput(job, kSyntheticLasWords); });
    EXPECT_EQ(text.rfind("Cannot create synthetic LAS output folder: ", 0), 0u) << text;
    EXPECT_GT(text.size(), std::string("Cannot create synthetic LAS output folder: ").size());

    job.outputE57Path = "bare-name.xyz";  // no parent: nothing to create
    EXPECT_EQ(failureOf([&] { prepareRouteOutput(job, kXyzAsciiWords); }), "(no failure)");
}

// An output that names the input, also through a link or another spelling of the path, would
// destroy the source; a folder at the output path is never replaced.
TEST(RouteContract, OutputThatIsTheInputOrAFolderIsRefused) {
    TempDir dir;
    const fs::path input = dir / "scan.las";
    testsupport::writeFile(input, "precious");
    fs::create_directory(dir / "sub");
    fs::create_symlink(input, dir / "link.las");
    fs::create_hard_link(input, dir / "hard.las");
    ExportJob job;
    job.inputE57Path = input.string();
    for (const fs::path& out :
         {input, dir / "link.las", dir / "hard.las", dir / "sub" / ".." / "scan.las"}) {
        job.outputE57Path = out.string();
        EXPECT_EQ(failureOf([&] { prepareRouteOutput(job, kLasBinaryWords); }),
                  "LAS binary export failed: the output file is the input file: " + out.string());
    }
    // A fixed temporary name that is the input is refused as well.
    EXPECT_EQ(failureOf([&] {
                  PendingOutput(input.string(), (dir / "out.e57").string(), kE57OutputWords,
                                input.string());
              }),
              "E57 export failed: the output file is the input file: " + input.string());
    EXPECT_EQ(testsupport::readFile(input), "precious");
    // The next working names: one a live writer holds (our process id in another pid namespace)
    // stays its own, and one that nobody holds (a dead holder of our id) is taken over.
    {
        const PendingOutput first(input.string(), (dir / "out.e57").string(), kE57OutputWords);
        const std::string name = first.temporaryPath();
        const std::size_t dash = name.rfind('-') + 1;
        const auto numbered = [&](int step) {
            return name.substr(0, dash) + std::to_string(std::stoi(name.substr(dash)) + step) +
                   ".tmp";
        };
        testsupport::writeFile(numbered(1), "live");
        testsupport::writeFile(numbered(2), "dead");
        platform::File writer;
        ASSERT_TRUE(writer.openExistingLockable(numbered(1)) && writer.tryLockExclusive());
        const PendingOutput second(input.string(), (dir / "out.e57").string(), kE57OutputWords);
        EXPECT_EQ(second.temporaryPath(), numbered(2));
        EXPECT_EQ(testsupport::readFile(numbered(1)), "live");
        EXPECT_EQ(testsupport::readFile(numbered(2)), "");
        // A new export of the output clears such a file too, and keeps the held one.
        testsupport::writeFile(numbered(3), "dead");
        removeOldOutputs(input.string(), {(dir / "out.e57").string()}, "E57 export");
        EXPECT_FALSE(fs::exists(numbered(3)));
        EXPECT_TRUE(fs::exists(numbered(1)));
    }
    job.outputE57Path = (dir / "sub").string();
    EXPECT_EQ(failureOf([&] { prepareRouteOutput(job, kLasBinaryWords); }),
              "LAS binary export failed: the output path is a folder: " + job.outputE57Path);
    EXPECT_TRUE(fs::is_directory(dir / "sub"));
}

TEST(RouteContract, SelectionMustHoldSomething) {
    ExportJob job;
    EXPECT_EQ(failureOf([&] { compileRouteSelection(job, kLasToE57Words); }),
              "LAS -> E57 export failed: no selected tiles or height ranges.");
    job.savedTileSelections.push_back({});  // an empty saved selection counts as none
    EXPECT_EQ(failureOf([&] { compileRouteSelection(job, kLasToE57Words); }),
              "LAS -> E57 export failed: no selected tiles or height ranges.");
    job.selectedCoarseTiles.insert({1, 2});
    EXPECT_EQ(compileRouteSelection(job, kLasToE57Words).selectedTiles.size(), 1u);
}

TEST(RouteContract, ProgressCadence) {
    RouteProgressCadence cadence;
    EXPECT_FALSE(cadence.due(4999999));
    EXPECT_TRUE(cadence.due(5000000));
    EXPECT_FALSE(cadence.due(5000001));
    EXPECT_FALSE(cadence.due(9999999));
    EXPECT_TRUE(cadence.due(10000003));  // at least 5,000,000 after the last report
    EXPECT_FALSE(cadence.due(15000002));
    EXPECT_TRUE(cadence.due(15000003));
}

TEST(RouteContract, SuccessResetsAndFillsTheResult) {
    TempDir dir;
    ExportJob job;
    job.outputE57Path = (dir / "out.xyz").string();
    job.outputAreaM2 = 42.5;
    testsupport::writeFile(job.outputE57Path, std::string(3 * 1048576 / 2, 'x'));
    ExportResult result;
    result.errorMessage = "stale";
    result.success = false;
    std::string error = "untouched";
    EXPECT_TRUE(runExportRoute(job, &result, &error, [] { return RouteCounts{10, 4, true}; }));
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.inputPoints, 10u);
    EXPECT_EQ(result.writtenPoints, 4u);
    EXPECT_EQ(result.skippedPoints, 6u);
    EXPECT_DOUBLE_EQ(result.outputAreaM2, 42.5);
    EXPECT_DOUBLE_EQ(result.outputSizeMB, 1.5);
    EXPECT_EQ(result.outputPath, job.outputE57Path);
    EXPECT_TRUE(result.errorMessage.empty());
    EXPECT_EQ(error, "untouched");

    EXPECT_TRUE(runExportRoute(job, &result, nullptr, [] { return RouteCounts{3, 5, true}; }));
    EXPECT_EQ(result.skippedPoints, 0u);  // more written than read
    EXPECT_TRUE(runExportRoute(job, &result, nullptr, [] { return RouteCounts{3, 2, false}; }));
    EXPECT_EQ(result.writtenPoints, 0u);
    EXPECT_EQ(result.skippedPoints, 0u);

    job.outputE57Path = (dir / "missing.xyz").string();
    EXPECT_TRUE(runExportRoute(job, nullptr, nullptr, [] { return RouteCounts{}; }));
    EXPECT_TRUE(runExportRoute(job, &result, nullptr, [] { return RouteCounts{}; }));
    EXPECT_EQ(result.outputSizeMB, 0.0);
}

TEST(RouteContract, StandardExceptionsFailTheRouteOthersPassOn) {
    ExportJob job;
    ExportResult result;
    result.inputPoints = 7;
    std::string error;
    EXPECT_FALSE(
        runExportRoute(job, &result, &error, []() -> RouteCounts { failExportRoute("broken"); }));
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.errorMessage, "broken");
    EXPECT_EQ(result.inputPoints, 7u);  // only the flag and the message change
    EXPECT_EQ(error, "broken");
    EXPECT_FALSE(
        runExportRoute(job, nullptr, nullptr, []() -> RouteCounts { throw std::bad_alloc(); }));
    EXPECT_THROW(runExportRoute(job, &result, &error, []() -> RouteCounts { throw 42; }), int);
}

TEST(RouteContract, OutputFailuresNameTheFileAndTheReason) {
    TempDir dir;
    const std::string full = (dir / "full").string();
    if (testsupport::makeFullDevice(full)) {
        OutputFile out;
        ASSERT_TRUE(out.open(full));
        out.write("x", 1);
        EXPECT_EQ(failureOf([&] { checkRouteOutput(out, kXyzAsciiWords); }), "(no failure)");
        out.close();
        EXPECT_EQ(failureOf([&] { checkRouteOutput(out, kXyzAsciiWords); }),
                  "XYZ ASCII export failed while writing output file: " + full +
                      " (No space left on device)");
    }

    ExportJob job;
    job.outputE57Path = (dir / "x.xyz").string();
    PendingOutput output = prepareRouteOutput(job, kXyzAsciiWords);
    // The temporary file, made and locked with the output, is replaced by a folder.
    fs::remove(output.temporaryPath());
    fs::create_directory(output.temporaryPath());
    OutputFile blocked;
    EXPECT_EQ(failureOf([&] { openRouteOutput(blocked, output, "Cannot open output XYZ file: "); }),
              "Cannot open output XYZ file: " + job.outputE57Path + " (Is a directory)");
    fs::remove(output.temporaryPath());
}

}  // namespace
