// Fixture of the end-to-end tests: the library started once, a host window
// per test, sessions on named devices that are closed the way a host closes
// them, and a check that no virtual camera object outlives its test.
// Test thread only.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "host_window.h"
#include "kovic.h"
#include "wine_support.h"

namespace kovic_wine {

class CaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(KOVICCreate(), KOVIC_OK); }

    void TearDown() override {
        for (KOVIC_SESSION session : open_) CloseAsHost(session);
        open_.clear();
        EXPECT_EQ(VirtualCameraObjects(), 0) << "a virtual camera object outlived its session";
    }

    // A session on the named device with an optional requested size.
    KOVIC_SESSION OpenOn(const char *device, int width = 0, int height = 0) {
        int index = DeviceIndex(device);
        EXPECT_GE(index, 0) << device << " is not catalogued";
        KOVIC_SESSION session = KOVICOpen(host_.as_handle());
        EXPECT_NE(session, 0);
        EXPECT_EQ(KOVICSelectDevice(session, index), KOVIC_OK);
        if (width != 0 || height != 0) {
            EXPECT_EQ(KOVICSetVideoFormat(session, width, height), KOVIC_OK);
        }
        open_.push_back(session);
        return session;
    }

    // Stops, drops the frame messages still queued for the session's
    // descriptor, and closes: the order a host follows.
    void CloseAsHost(KOVIC_SESSION session) {
        if (KOVICIsPreviewing(session) == 1) KOVICStopPreview(session);
        host_.DiscardQueuedFrames();
        EXPECT_EQ(KOVICClose(session), KOVIC_OK);
        for (auto it = open_.begin(); it != open_.end(); ++it) {
            if (*it == session) {
                open_.erase(it);
                break;
            }
        }
    }

    // Forgets a session the test closed itself.
    void Forget(KOVIC_SESSION session) {
        for (auto it = open_.begin(); it != open_.end(); ++it) {
            if (*it == session) {
                open_.erase(it);
                break;
            }
        }
    }

    // Arms the sink and waits for the next frame message; null on timeout.
    const FrameMessage *NextFrame(KOVIC_SESSION session, DWORD timeout_ms = 3000) {
        size_t before = host_.frames.size();
        EXPECT_EQ(KOVICGetFrameCall(session), KOVIC_OK);
        if (!host_.PumpUntil([&] { return host_.frames.size() > before; }, timeout_ms)) return nullptr;
        return &host_.frames.back();
    }

    HostWindow host_;
    std::vector<KOVIC_SESSION> open_;
};

}  // namespace kovic_wine
