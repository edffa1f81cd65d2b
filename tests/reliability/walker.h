// The random walk over the exports: seeded and reproducible, it registers a
// world of simulated devices, opens several sessions on host windows, and
// drives every export (plus frames pushed into running graphs) with platform
// failures armed at random call sites, comparing after every action what the
// library did with what the reference model says it must do. A failing walk
// is replayed on ever longer prefixes of its actions to find the shortest one
// that still fails. Runs on one thread; walks run one after another.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "model.h"

namespace walk {

enum class ActionKind {
    kCreate, kDestroy, kDeviceCount, kGetDevice, kOpen, kClose, kSelect, kSetFormat, kEnumFormat, kGetWidth,
    kGetHeight, kStart, kStop, kIsPreviewing, kFrameCall, kYuvFrame, kSave, kDxVersion, kDeliver, kPump, kReplug,
};

// How a session export names its session.
enum class HandleKind { kSlot, kNull, kNotASession };

// One step of a walk, complete enough to be replayed.
struct Action {
    ActionKind kind = ActionKind::kDeviceCount;
    int slot = -1;  // the walker's session number (live or already closed)
    HandleKind handle = HandleKind::kSlot;
    int a = 0, b = 0;  // index, width and height, window, length or choice, as the kind uses them
    int name = 0;      // snapshot file choice
    int frame = 0;     // snapshot descriptor choice
    uint64_t bytes_seed = 0;
    std::vector<int> devices;  // replug: world positions to register, in order
    Faults faults;

    std::string Describe() const;
};

struct WalkStats {
    int walks = 0;
    long actions = 0;
    long export_calls = 0;
    long faults_armed = 0;
    long faults_fired = 0;
    long frames_delivered = 0;
    long frame_messages = 0;
    // How often each export (or platform event) gave each result.
    std::map<std::string, long> results;
};

struct WalkResult {
    bool passed = true;
    std::string failure;   // what differed, where
    int failed_at = -1;    // action index; the number of actions when the end-of-walk check failed
    std::vector<Action> actions;
};

// Whether the model is told the truth about the devices. Misdescribed: every
// device's current format is two pixels wider than the one registered, a
// difference the walks must notice (for the tests of the walker itself).
enum class World { kTrue, kMisdescribed };

// One walk of `length` actions from `seed`.
WalkResult RunWalk(uint64_t seed, int length, WalkStats *stats, World world = World::kTrue);
// The same world and the given actions (a prefix of a walk of that seed).
WalkResult ReplayWalk(uint64_t seed, const std::vector<Action> &actions, WalkStats *stats,
                      World world = World::kTrue);
// Runs a walk; when it fails, writes its seed, the shortest failing prefix and
// that prefix's actions to `report`. True when the walk passed.
bool RunAndShrink(uint64_t seed, int length, WalkStats *stats, std::ostream &report, World world = World::kTrue);

}  // namespace walk
