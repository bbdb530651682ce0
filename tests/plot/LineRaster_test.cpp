#include "plot/logic/LineRaster.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace pom {
namespace {

constexpr std::uint32_t kInk = 0xff0000ffu;

// A small canvas with a guard band around it, to catch writes outside.
class Canvas {
public:
    Canvas(int w, int h)
        : w_(w), h_(h), buf_(static_cast<std::size_t>((w + 2 * kPad) * (h + 2 * kPad)), 0) {}
    RasterTarget Target() {
        return {buf_.data() + kPad * (w_ + 2 * kPad) + kPad, w_, h_, w_ + 2 * kPad};
    }
    std::vector<std::string> Rows() const {
        std::vector<std::string> out;
        for (int y = 0; y < h_; ++y) {
            std::string row;
            for (int x = 0; x < w_; ++x) row += At(x, y) ? '#' : '.';
            out.push_back(row);
        }
        return out;
    }
    bool At(int x, int y) const {
        return buf_[static_cast<std::size_t>((y + kPad) * (w_ + 2 * kPad) + x + kPad)] == kInk;
    }
    int InkOutside() const {
        int n = 0;
        for (int y = -kPad; y < h_ + kPad; ++y)
            for (int x = -kPad; x < w_ + kPad; ++x)
                if ((x < 0 || y < 0 || x >= w_ || y >= h_) && At(x, y)) ++n;
        return n;
    }

private:
    static constexpr int kPad = 4;
    int w_, h_;
    std::vector<std::uint32_t> buf_;
};

TEST(LineRaster, OnePixelLinesIncludeBothEnds) {
    Canvas c(8, 5);
    LineRaster r(c.Target(), 1);
    r.Segment(1, 1, 6, 1, kInk);
    r.Segment(0, 4, 0, 2, kInk);
    r.Segment(3, 2, 5, 4, kInk);
    EXPECT_EQ(c.Rows(), (std::vector<std::string>{"........",  //
                                                  ".######.",  //
                                                  "#..#....",  //
                                                  "#...#...",  //
                                                  "#....#.."}));
}

TEST(LineRaster, ThreePixelBrushIsTheFullSquareAroundEachPixel) {
    Canvas c(9, 7);
    LineRaster r(c.Target(), 3);
    r.Segment(2, 3, 6, 3, kInk);
    EXPECT_EQ(c.Rows(), (std::vector<std::string>{".........",  //
                                                  ".........",  //
                                                  ".#######.",  //
                                                  ".#######.",  //
                                                  ".#######.",  //
                                                  ".........",  //
                                                  "........."}));
}

TEST(LineRaster, FiveToSevenPixelBrushesAreRound) {
    Canvas c(9, 9);
    LineRaster r(c.Target(), 5);
    r.Segment(4, 4, 4, 4, kInk);
    EXPECT_EQ(c.Rows(), (std::vector<std::string>{".........",  //
                                                  ".........",  //
                                                  "...###...",  //
                                                  "..#####..",  //
                                                  "..#####..",  //
                                                  "..#####..",  //
                                                  "...###...",  //
                                                  ".........",  //
                                                  "........."}));
}

struct SegmentCase {
    int x0, y0, x1, y1;
};

class SegmentDirection : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(SegmentDirection, EitherWayCoversTheSamePixels) {
    const SegmentCase& s = GetParam();
    Canvas a(40, 30);
    Canvas b(40, 30);
    LineRaster(a.Target(), 1).Segment(s.x0, s.y0, s.x1, s.y1, kInk);
    LineRaster(b.Target(), 1).Segment(s.x1, s.y1, s.x0, s.y0, kInk);
    EXPECT_EQ(a.Rows(), b.Rows());
    EXPECT_TRUE(a.At(s.x0, s.y0));
    EXPECT_TRUE(a.At(s.x1, s.y1));
}

INSTANTIATE_TEST_SUITE_P(Slopes, SegmentDirection,
                         ::testing::Values(SegmentCase{1, 1, 38, 2}, SegmentCase{1, 28, 38, 1},
                                           SegmentCase{5, 1, 7, 28}, SegmentCase{20, 3, 21, 25},
                                           SegmentCase{3, 3, 30, 25}, SegmentCase{10, 10, 10, 20}));

TEST(LineRaster, SteepSegmentIsOneRunPerColumn) {
    Canvas c(4, 12);
    LineRaster(c.Target(), 1).Segment(1, 0, 2, 11, kInk);
    int switches = 0;
    for (int y = 1; y < 12; ++y)
        if (c.At(1, y) != c.At(1, y - 1)) ++switches;
    EXPECT_EQ(switches, 1);  // column 1 holds one unbroken run from the top
    for (int y = 0; y < 12; ++y) EXPECT_NE(c.At(1, y), c.At(2, y)) << y;
}

TEST(LineRaster, NothingIsWrittenOutsideTheTarget) {
    Canvas c(10, 10);
    LineRaster r(c.Target(), 7);
    r.Segment(-50, -3, 60, 12, kInk);
    r.Segment(5, -100000, 5, 100000, kInk);
    r.Segment(-kPixelLimit, 5, kPixelLimit, 5, kInk);
    r.Segment(-30, -30, -20, -25, kInk);
    EXPECT_EQ(c.InkOutside(), 0);
    EXPECT_TRUE(c.At(5, 0));
    EXPECT_TRUE(c.At(0, 5));
}

// A polyline paints exactly its segments' pixels, however often a dense
// series goes up and down the same columns and the brush overlaps itself.
class PolylineUnion : public ::testing::TestWithParam<int> {};

TEST_P(PolylineUnion, PaintsEachSegmentsPixelsAndNoOthers) {
    std::mt19937 rng(static_cast<unsigned>(GetParam()));
    // Columns in a row, each visited by up to three points, then the same
    // columns again backwards, as a clock set back draws them.
    std::uniform_int_distribution<int> step(0, 2), row(-6, 45);
    std::vector<PixelPoint> pts;
    for (int x = -4; x < 44; x += step(rng))
        for (int k = step(rng) + 1; k > 0; --k) pts.push_back({x, row(rng), 0});
    for (int x = 44; x > -4; x -= step(rng) + 1) pts.push_back({x, row(rng), 0});
    Canvas whole(40, 40), parts(40, 40);
    LineRaster(whole.Target(), GetParam()).Polyline(pts.data(), pts.size(), kInk);
    LineRaster r(parts.Target(), GetParam());
    for (std::size_t i = 1; i < pts.size(); ++i)
        r.Segment(pts[i - 1].x, pts[i - 1].y, pts[i].x, pts[i].y, kInk);
    EXPECT_EQ(whole.Rows(), parts.Rows());
    EXPECT_EQ(whole.InkOutside(), 0);
}

INSTANTIATE_TEST_SUITE_P(BrushWidths, PolylineUnion, ::testing::Values(1, 3, 5, 7, 15));

TEST(LineRaster, PolylineOfOnePointDrawsNothing) {
    Canvas c(5, 5);
    const PixelPoint p{2, 2, 0};
    LineRaster(c.Target(), 3).Polyline(&p, 1, kInk);
    EXPECT_EQ(c.Rows(), (std::vector<std::string>(5, ".....")));
}

}  // namespace
}  // namespace pom
