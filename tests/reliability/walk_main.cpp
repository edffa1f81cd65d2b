// scripts/walk: runs random walks over the exports against the reference
// model. Usage: kovic-walk [--walks N] [--seed S] [--length L] [--verbose]
// (--verbose lists how often each export gave each result). A failing
// walk prints its seed and its shortest failing prefix; the exit status is 1.
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "walker.h"

int main(int argc, char **argv) {
    long walks = 100, length = 250;
    bool verbose = false;
    unsigned long long seed = 1;
    for (int i = 1; i < argc; i += 2) {
        if (std::strcmp(argv[i], "--verbose") == 0) {
            verbose = true;
            --i;
        } else if (i + 1 >= argc) {
            std::cerr << "usage: kovic-walk [--walks N] [--seed S] [--length L] [--verbose]\n";
            return 2;
        } else if (std::strcmp(argv[i], "--walks") == 0) {
            walks = std::atol(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            seed = std::strtoull(argv[i + 1], nullptr, 0);
        } else if (std::strcmp(argv[i], "--length") == 0) {
            length = std::atol(argv[i + 1]);
        } else {
            std::cerr << "usage: kovic-walk [--walks N] [--seed S] [--length L] [--verbose]\n";
            return 2;
        }
    }
    walk::WalkStats stats;
    int failed = 0;
    for (long i = 0; i < walks; ++i) {
        if (!walk::RunAndShrink(seed + static_cast<unsigned long long>(i), static_cast<int>(length), &stats,
                                std::cout)) {
            ++failed;
            break;
        }
    }
    std::cout << stats.walks << " walks from seed " << seed << ": " << stats.actions << " actions, "
              << stats.export_calls << " export calls, " << stats.faults_armed << " faults armed, "
              << stats.faults_fired << " fired, " << stats.frames_delivered << " samples pushed, "
              << stats.frame_messages << " frame messages" << (failed ? ", FAILED" : ", all agreed with the model")
              << "\n";
    if (verbose) {
        for (const auto &r : stats.results) std::cout << "  " << r.first << ": " << r.second << "\n";
    }
    return failed ? 1 : 0;
}
