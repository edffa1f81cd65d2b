// Random walks over the exports against the reference model: a fixed set of
// seeds on every build, and a check that the oracle notices a world it was
// told about wrongly. KOVIC_WALKS and KOVIC_WALK_SEED choose other walks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "walker.h"

namespace {

int FromEnvironment(const char *name, int fallback) {
    const char *text = std::getenv(name);
    return text != nullptr ? std::atoi(text) : fallback;
}

TEST(RandomWalk, EveryActionAgreesWithTheModel) {
    const int walks = FromEnvironment("KOVIC_WALKS", 600);
    const uint64_t first_seed = static_cast<uint64_t>(FromEnvironment("KOVIC_WALK_SEED", 1));
    walk::WalkStats stats;
    for (int i = 0; i < walks; ++i) {
        std::ostringstream report;
        if (!walk::RunAndShrink(first_seed + static_cast<uint64_t>(i), 250, &stats, report)) {
            ADD_FAILURE() << report.str();
            break;
        }
    }
    std::cout << stats.walks << " walks, " << stats.actions << " actions, " << stats.export_calls
              << " export calls, " << stats.faults_armed << " faults armed, " << stats.faults_fired << " fired, "
              << stats.frames_delivered << " samples pushed, " << stats.frame_messages << " frame messages\n";
    EXPECT_GT(stats.faults_fired, 0);
    EXPECT_GT(stats.frame_messages, 0);
}

// The model is told every device's current format is two pixels wider than
// the one registered: the walks must catch the difference in the sizes a
// session reports or its frame descriptor holds.
TEST(RandomWalk, NoticesADeviceDescribedWrongly) {
    walk::WalkStats stats;
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        walk::WalkResult r = walk::RunWalk(seed, 250, &stats, walk::World::kMisdescribed);
        EXPECT_FALSE(r.passed) << "seed " << seed;
        EXPECT_TRUE(r.failure.find("GetWidth") != std::string::npos ||
                    r.failure.find("descriptor size") != std::string::npos)
            << r.failure;
    }
}

// A failing walk is reported with the shortest prefix that still fails: the
// prefix ends at the failing action, and one action less passes.
TEST(RandomWalk, AFailureIsReportedWithItsShortestFailingPrefix) {
    walk::WalkStats stats;
    const walk::WalkResult full = walk::RunWalk(3, 250, &stats, walk::World::kMisdescribed);
    ASSERT_FALSE(full.passed);
    std::ostringstream report;
    ASSERT_FALSE(walk::RunAndShrink(3, 250, &stats, report, walk::World::kMisdescribed));
    const std::string expected = "shortest failing prefix: " + std::to_string(full.failed_at + 1) + " actions";
    EXPECT_NE(report.str().find(expected), std::string::npos) << report.str();
    EXPECT_NE(report.str().find("scripts/walk --seed 3"), std::string::npos);
    std::vector<walk::Action> shorter(full.actions.begin(), full.actions.begin() + full.failed_at);
    EXPECT_TRUE(walk::ReplayWalk(3, shorter, &stats, walk::World::kMisdescribed).passed);
}

}  // namespace
