// A window whose timers run faster with its clock (soak runs): every
// station timer's interval is divided by the scale, none below 1 ms, and a
// scale of 1 leaves them as they are.
#include <gtest/gtest.h>

#include "app/logic/ReceivePath.h"
#include "app/ui/TMonitorT.h"
#include "tests/support/TestSupport.h"
#include "util/TdmUtil.h"
#include "web/Uploader.h"

namespace pom {
namespace {

struct ScaleCase {
    double scale;
    int start, catchUpAtStart, uploadAtStart;  // the window's first intervals
    int catchUp5000, upload5000;               // 5000 ms asked by the logic
};

class FastTimers : public ::testing::TestWithParam<ScaleCase> {
protected:
    FastTimers() : home_(dir_.path()) {}
    test::TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
};

TEST_P(FastTimers, IntervalsFollowTheScale) {
    const ScaleCase& c = GetParam();
    MonitorOptions o;
    o.enumPorts = [] { return std::vector<std::string>{}; };
    o.showError = [](const std::string& e) { ADD_FAILURE() << e; };
    o.timeScale = c.scale;
    TMonitorT w(util_, o);
    EXPECT_EQ(w.StartTimer().interval(), c.start);
    EXPECT_EQ(w.CatchUpTimer().interval(), c.catchUpAtStart);
    EXPECT_EQ(w.UploadTimer().interval(), c.uploadAtStart);

    // A reading announced: the next "R" within 5 s of the station's time.
    util_.valueCount = 3;
    w.Receive().DispatchMeasurement("A:2027-01-10 12:00:00 21.5 1 2 W4r:1");
    EXPECT_EQ(w.Receive().CatchUp().Interval(), 5000);
    EXPECT_EQ(w.CatchUpTimer().interval(), c.catchUp5000);
    EXPECT_TRUE(w.CatchUpTimer().isActive());
    w.Upload().SetUploadInterval(5000);
    EXPECT_EQ(w.UploadTimer().interval(), c.upload5000);
}

INSTANTIATE_TEST_SUITE_P(Scales, FastTimers,
                         ::testing::Values(ScaleCase{1, 5000, 21000, 60000, 5000, 5000},
                                           ScaleCase{3, 1667, 7000, 20000, 1667, 1667},
                                           ScaleCase{1000, 5, 21, 60, 5, 5},
                                           // Never a 0 ms timer, which would spin.
                                           ScaleCase{1e6, 1, 1, 1, 1, 1}));

}  // namespace
}  // namespace pom
