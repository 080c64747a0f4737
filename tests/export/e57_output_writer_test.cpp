#include "export/e57_output_writer.h"

#include <gtest/gtest.h>

#include <E57SimpleReader.h>

#include <filesystem>
#include <vector>

#include "support/test_support.h"

namespace {

void writeScan(e57::Writer& writer, std::vector<double>& v) {
    e57::Data3D h;
    h.guid = "scan";
    h.pointCount = v.size();
    h.pointFields.cartesianXField = h.pointFields.cartesianYField = h.pointFields.cartesianZField =
        true;
    h.pointFields.pointRangeNodeType = e57::NumericalNodeType::Double;
    e57::Data3DPointsDouble b;
    b.cartesianX = b.cartesianY = b.cartesianZ = v.data();
    writer.WriteData3DData(h, b);
}

}  // namespace

// A route that fails leaves its writer open. Through E57WriterPtr an open file is still closed
// and complete, and a close that fails (a full disk) does not end the process from the library's
// destructor, whether it fails first in the disposer or was tried and failed before.
TEST(E57OutputWriter, DisposerClosesOpenWritersAndSurvivesAFailedClose) {
    testsupport::TempDir dir;
    const std::string path = (dir / "left-open.e57").string();
    std::vector<double> v(10, 1.5);  // buffered: the writes fail only at close
    e57::WriterOptions options;
    options.guid = "left-open";
    {
        const E57WriterPtr writer = openE57Writer(path, options);
        writeScan(*writer, v);
    }
    e57::Reader reader(path, e57::ReaderOptions{});
    e57::E57Root root;
    ASSERT_TRUE(reader.GetE57Root(root));
    EXPECT_EQ(root.guid, "left-open");
    e57::Data3D h;
    ASSERT_TRUE(reader.ReadData3D(0, h));
    EXPECT_EQ(h.pointCount, v.size());

    const std::string full = (dir / "full").string();
    REQUIRE_CHAR_DEVICE(testsupport::makeFullDevice(full), full);
    // libE57Format fails in the write already (it takes the file's pages at once), ours only at
    // Close(); either way the failure is reported and the disposer survives what is left open.
    for (const bool close : {false, true}) {
        bool failed = false;
        {
            const E57WriterPtr writer = openE57Writer(full, options);
            try {
                writeScan(*writer, v);
                if (close) writer->Close();
            } catch (const e57::E57Exception&) {
                failed = true;
            }
        }
        if (close) {
            EXPECT_TRUE(failed);
        }
    }
}
