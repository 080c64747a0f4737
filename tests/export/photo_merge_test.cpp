#include "export/photo_merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "export/e57_output_writer.h"
#include "support/e57_page_checksum.h"
#include "support/e57_test_files.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TestImage;
using testsupport::TestScan;

TestScan scanOf(const std::string& guid, int points, double offset) {
    TestScan s;
    s.guid = guid;
    s.name = "scan " + guid;
    s.hasColour = s.hasIntensity = s.hasTime = s.hasRowColumn = true;
    for (int i = 0; i < points; ++i) s.add(offset + i * 0.25, offset - i * 0.5, i * 0.125);
    s.indexBounds.rowMaximum = 7;
    s.indexBounds.columnMaximum = 9;
    return s;
}

std::string blobOf(char c, std::size_t size) { return std::string(size, c); }

struct MergeRun {
    bool ok = false;
    std::string error;
    std::string console;
};

MergeRun merge(const fs::path& source, const fs::path& geometry, const fs::path& target,
               const std::vector<ScanGuidPair>& pairs) {
    MergeRun r;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    r.ok = mergePhotosIntoFinalE57(source.string(), geometry.string(), target.string(), pairs,
                                   &r.error);
    r.console = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return r;
}

class PhotoMergeTest : public testing::Test {
protected:
    void SetUp() override {
        source_ = dir_ / "source.e57";
        geometry_ = dir_ / "geometry.e57";
        target_ = dir_ / "target.e57";
        // The source's images: two of scan A, one of B, one of a scan nobody exports, one tied
        // to no scan.
        images_ = {{"imgA1", "A", blobOf('a', 700)},
                   {"imgB", "B", blobOf('b', 300)},
                   {"imgX", "X", blobOf('x', 200)},
                   {"imgA2", "A", blobOf('c', 3000), 64},
                   {"imgNone", "", blobOf('n', 100)}};
        testsupport::writeE57Source(source_.string(), "{SOURCE-FILE}",
                                    {scanOf("A", 5, 0.0), scanOf("B", 5, 1.0)}, images_,
                                    "EPSG:25832");
        // A geometry file as the photo routes write it: structured fields included.
        testsupport::writeE57Source(geometry_.string(), "{GEOMETRY-FILE}",
                                    {scanOf("dA", 40, 612345.678901234), scanOf("dB", 3, 2.0)});
    }
    testsupport::TempDir dir_;
    fs::path source_, geometry_, target_;
    std::vector<TestImage> images_;
};

TEST_F(PhotoMergeTest, CarriesEachPairsImagesAndOnlyPositionsColourAndIntensity) {
    // A twice, under two output guids; C has no image.
    const MergeRun r = merge(source_, geometry_, target_, {{"A", "dA"}, {"C", "dC"}, {"A", "dA2"}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.error, "Image transfer summary | matched=4 | copied=4 | skipped=0");

    const ReadFile out = testsupport::readE57File(target_.string());
    ASSERT_EQ(testsupport::readE57File(source_.string())
                  .images[3]
                  .header.visualReferenceRepresentation.imageMaskSize,
              64);
    EXPECT_EQ(out.root.guid, "{SOURCE-FILE}");
    EXPECT_EQ(out.root.coordinateMetadata, "EPSG:25832");

    const ReadFile geometry = testsupport::readE57File(geometry_.string());
    ASSERT_EQ(out.scans.size(), 2u);
    for (std::size_t s = 0; s < 2; ++s) {
        const testsupport::ReadScan& got = out.scans[s];
        const testsupport::ReadScan& want = geometry.scans[s];
        EXPECT_EQ(got.header.guid, want.header.guid);
        EXPECT_EQ(got.header.name, want.header.name);
        EXPECT_EQ(got.x, want.x);  // bit for bit, far from the origin too
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.z, want.z);
        EXPECT_EQ(got.red, want.red);
        EXPECT_EQ(got.blue, want.blue);
        EXPECT_EQ(got.intensity, want.intensity);
        const e57::PointStandardizedFieldsAvailable& f = got.header.pointFields;
        EXPECT_FALSE(f.timeStampField);
        EXPECT_FALSE(f.rowIndexField);
        EXPECT_FALSE(f.columnIndexField);
        EXPECT_EQ(got.header.indexBounds, e57::IndexBounds{});
        EXPECT_EQ(got.header.pointGroupingSchemes.groupingByLine.idElementName, "");
        EXPECT_EQ(got.header.cartesianBounds.xMinimum,
                  *std::min_element(want.x.begin(), want.x.end()));
        EXPECT_EQ(got.header.cartesianBounds.yMinimum,
                  *std::min_element(want.y.begin(), want.y.end()));
        EXPECT_EQ(got.header.cartesianBounds.zMaximum,
                  *std::max_element(want.z.begin(), want.z.end()));
    }

    // Pair order, then source order within a pair.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"imgA1", "dA"}, {"imgA2", "dA"}, {"imgA1", "dA2"}, {"imgA2", "dA2"}};
    ASSERT_EQ(out.images.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const e57::Image2D& h = out.images[i].header;
        EXPECT_EQ(h.guid, expected[i].first);
        EXPECT_EQ(h.associatedData3DGuid, expected[i].second);
        EXPECT_EQ(h.name, "image " + expected[i].first);
        const auto& from = std::find_if(images_.begin(), images_.end(), [&](const TestImage& im) {
            return im.guid == expected[i].first;
        });
        EXPECT_EQ(out.images[i].blob, from->jpeg);
        EXPECT_EQ(h.visualReferenceRepresentation.imageWidth, 4);
        EXPECT_EQ(h.visualReferenceRepresentation.imageHeight, 3);
        // A mask the copy cannot fill is not declared.
        EXPECT_EQ(h.visualReferenceRepresentation.imageMaskSize, 0);
    }
    EXPECT_NE(r.console.find("[PHOTO MERGE] scan image copy summary | srcGuid=C | dstGuid=dC | "
                             "matched=0 | copied=0 | skipped=0"),
              std::string::npos);
}

TEST_F(PhotoMergeTest, EmptyPairListCopiesScansAndNoImage) {
    const MergeRun r = merge(source_, geometry_, target_, {});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.error, "Image transfer summary | matched=0 | copied=0 | skipped=0");
    const ReadFile out = testsupport::readE57File(target_.string());
    EXPECT_EQ(out.scans.size(), 2u);
    EXPECT_TRUE(out.images.empty());
}

TEST_F(PhotoMergeTest, AnUnreadableImageIsSkippedAndCountedWhileTheMergeSucceeds) {
    // Spoil one page inside imgA2's blob, so its checksum no longer matches.
    std::string bytes = testsupport::readFile(source_);
    const std::size_t start = bytes.find(std::string(1000, 'c'));
    ASSERT_NE(start, std::string::npos);
    std::vector<std::size_t> at;
    for (std::size_t i = start; i < std::min(bytes.size(), start + 3100); ++i)
        if (bytes[i] == 'c') at.push_back(i);
    bytes[at[at.size() / 2]] = 'Z';
    testsupport::writeFile(source_, bytes);

    const MergeRun r = merge(source_, geometry_, target_, {{"A", "dA"}, {"B", "dB"}});
    ASSERT_TRUE(r.ok) << r.error;
    const std::string firstSkip =
        "Skipped Image2D | imageIndex=3 | srcGuid=A | dstGuid=dA | reason=";
    const std::string head =
        "Image transfer summary | matched=3 | copied=2 | skipped=1 | "
        "firstWarning=Photo merge summary | matched=2 | copied=1 | "
        "skipped=1 | firstSkip=" +
        firstSkip;
    EXPECT_EQ(r.error.rfind(head, 0), 0u) << r.error;
    EXPECT_GT(r.error.size(), head.size());

    const ReadFile out = testsupport::readE57File(target_.string());
    ASSERT_EQ(out.images.size(), 2u);
    EXPECT_EQ(out.images[0].header.guid, "imgA1");
    EXPECT_EQ(out.images[1].header.guid, "imgB");
    EXPECT_EQ(out.images[1].header.associatedData3DGuid, "dB");
}

// An image whose header cannot be read belongs to no pair; it is one skipped image however
// many scans the merge carries.
TEST_F(PhotoMergeTest, AnImageWithoutAHeaderIsCountedOnceForAllPairs) {
    // imgX loses its guid: the tag is renamed in the XML and the pages resealed.
    std::string bytes = testsupport::readFile(source_);
    const std::string element = "<guid type=\"String\"><![CDATA[imgX]]></guid>";
    const std::size_t at = bytes.find(element);
    ASSERT_NE(at, std::string::npos);
    std::string renamed = element;
    renamed[2] = renamed[renamed.size() - 4] = 'x';
    bytes.replace(at, element.size(), renamed);
    for (std::size_t page = at / 1024; page <= (at + element.size()) / 1024; ++page)
        testsupport::sealE57Page(reinterpret_cast<std::uint8_t*>(bytes.data()) + page * 1024);
    testsupport::writeFile(source_, bytes);

    const MergeRun r = merge(source_, geometry_, target_, {{"A", "dA"}, {"B", "dB"}});
    ASSERT_TRUE(r.ok) << r.error;
    const std::string head =
        "Image transfer summary | matched=3 | copied=3 | skipped=1 | firstWarning=Photo merge "
        "summary | matched=2 | copied=2 | skipped=1 | firstSkip=Skipped Image2D | imageIndex=2 | "
        "srcGuid=A | dstGuid=dA | reason=";
    EXPECT_EQ(r.error.rfind(head, 0), 0u) << r.error;
    EXPECT_EQ(testsupport::readE57File(target_.string()).images.size(), 3u);
}

TEST_F(PhotoMergeTest, AFailedMergeRemovesItsTarget) {
    // A target left from before is replaced and, on failure, gone.
    testsupport::writeFile(target_, "old");
    MergeRun r = merge(source_, dir_ / "missing.e57", target_, {{"A", "dA"}});
    EXPECT_FALSE(r.ok);
    const std::string prefix =
        "Final merge failed during Data3D copy from temporary geometry E57: ";
    EXPECT_EQ(r.error.rfind(prefix, 0), 0u) << r.error;
    EXPECT_GT(r.error.size(), prefix.size());
    EXPECT_FALSE(fs::exists(target_));

    const fs::path empty = dir_ / "empty.e57";
    testsupport::writeE57Source(empty.string(), "{EMPTY}", {});
    r = merge(source_, empty, target_, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, prefix + "Temporary geometry E57 contains no Data3D scans.");
    EXPECT_FALSE(fs::exists(target_));

    r = merge(dir_ / "no-source.e57", geometry_, target_, {});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error, "");
    EXPECT_NE(r.error, "E57 exception");
    EXPECT_FALSE(fs::exists(target_));
}

// A real file with three pinhole images tied to no scan: the pair of the empty guid takes every
// one, with its blob, representation and distortion parameters.
TEST(PhotoMergeRealFile, CopiesEveryPinholeImageWithItsDistortion) {
    REQUIRE_SHARED_TESTDATA();
    const std::string source =
        (testsupport::sharedTestData() / "e57" / "PinholeImageWithDistortionParameters.e57")
            .string();
    const testsupport::TempDir dir;
    const fs::path target = dir / "target.e57";
    std::uint64_t matched = 0, copied = 0, skipped = 0;
    std::string warning;
    {
        e57::Reader reader(source, e57::ReaderOptions{});
        e57::WriterOptions options;
        E57WriterPtr writer = openE57Writer(target.string(), options);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(
            copyScanImage2D(reader, *writer, "", "scan-1", &warning, &matched, &copied, &skipped));
        testing::internal::GetCapturedStdout();
        writer->Close();
        reader.Close();
    }
    EXPECT_EQ(warning, "Photo merge summary | matched=3 | copied=3 | skipped=0");
    EXPECT_EQ(matched, 3u);
    EXPECT_EQ(copied, 3u);
    EXPECT_EQ(skipped, 0u);

    const ReadFile in = testsupport::readE57File(source);
    const ReadFile out = testsupport::readE57File(target.string());
    ASSERT_EQ(out.images.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const e57::Image2D& a = in.images[i].header;
        const e57::Image2D& b = out.images[i].header;
        EXPECT_EQ(b.guid, a.guid);
        EXPECT_EQ(b.name, a.name);
        EXPECT_EQ(b.description, a.description);
        EXPECT_EQ(b.associatedData3DGuid, "scan-1");
        EXPECT_EQ(b.pinholeRepresentation, a.pinholeRepresentation);
        EXPECT_EQ(out.images[i].blob, in.images[i].blob);
        ASSERT_EQ(b.pinholeCameraDistortionExt == nullptr, a.pinholeCameraDistortionExt == nullptr);
        if (a.pinholeCameraDistortionExt) {
            EXPECT_EQ(b.pinholeCameraDistortionExt->CV_K1, a.pinholeCameraDistortionExt->CV_K1);
            EXPECT_EQ(b.pinholeCameraDistortionExt->CV_FY, a.pinholeCameraDistortionExt->CV_FY);
        }
    }
}

}  // namespace
