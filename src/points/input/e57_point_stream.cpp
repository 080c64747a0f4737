#include "points/input/e57_point_stream.h"

#include <pdal/Dimension.hpp>
#include <pdal/Options.hpp>
#include <pdal/PointLayout.hpp>
#include <pdal/PointTable.hpp>
#include <pdal/StageFactory.hpp>
#include <pdal/filters/StreamCallbackFilter.hpp>

namespace {
constexpr pdal::point_count_t kStreamTableCapacity = 100000;
}

bool streamE57File(const std::string& path, bool& hasColour,
                   const std::function<bool(pdal::PointRef&)>& callback) {
    pdal::StageFactory factory;
    pdal::Stage* reader = factory.createStage("readers.e57");
    if (!reader) return false;
    pdal::Options options;
    options.add("filename", path);
    reader->setOptions(options);

    pdal::FixedPointTable table(kStreamTableCapacity);
    pdal::StreamCallbackFilter filter;
    filter.setInput(*reader);
    filter.setCallback(callback);
    filter.prepare(table);
    const pdal::PointLayoutPtr layout = table.layout();
    hasColour = layout->hasDim(pdal::Dimension::Id::Red) &&
                layout->hasDim(pdal::Dimension::Id::Green) &&
                layout->hasDim(pdal::Dimension::Id::Blue);
    filter.execute(table);
    return true;
}

CloudPoint cloudPointFromStream(pdal::PointRef& ref, bool hasColour, ColourReadErrors onError) {
    CloudPoint p;
    p.x = ref.getFieldAs<double>(pdal::Dimension::Id::X);
    p.y = ref.getFieldAs<double>(pdal::Dimension::Id::Y);
    p.z = ref.getFieldAs<double>(pdal::Dimension::Id::Z);
    if (!hasColour) return p;
    if (onError == ColourReadErrors::EndTheStream) {
        p.red = colourTo8Bits(ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Red));
        p.green = colourTo8Bits(ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Green));
        p.blue = colourTo8Bits(ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Blue));
        p.hasRGB = true;
        return p;
    }
    try {
        const unsigned int r = ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Red);
        const unsigned int g = ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Green);
        const unsigned int b = ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Blue);
        p.red = colourTo8Bits(r);
        p.green = colourTo8Bits(g);
        p.blue = colourTo8Bits(b);
        p.hasRGB = true;
    } catch (...) {
        // the point goes on without colour
    }
    return p;
}
