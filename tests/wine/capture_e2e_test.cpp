// kovic.dll end to end under Wine: real COM and DirectShow, the virtual
// camera's devices, a real window and message loop on the test's thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "host_window.h"
#include "kovic.h"
#include "wine_support.h"

namespace kovic_wine {
namespace {

class CaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(KOVICCreate(), KOVIC_OK); }

    // A session on the named device, reporting to the test's window.
    KOVIC_SESSION OpenOn(const char *device) {
        int index = DeviceIndex(device);
        EXPECT_GE(index, 0) << device << " is not catalogued";
        KOVIC_SESSION session = KOVICOpen(host_.as_handle());
        EXPECT_NE(session, 0);
        EXPECT_EQ(KOVICSelectDevice(session, index), KOVIC_OK);
        return session;
    }

    // Arms the sink and waits for the next frame message.
    const FrameMessage *NextFrame(KOVIC_SESSION session, DWORD timeout_ms = 3000) {
        size_t before = host_.frames.size();
        EXPECT_EQ(KOVICGetFrameCall(session), KOVIC_OK);
        if (!host_.PumpUntil([&] { return host_.frames.size() > before; }, timeout_ms)) return nullptr;
        return &host_.frames.back();
    }

    HostWindow host_;
};

TEST_F(CaptureTest, Smoke) {
    std::vector<std::string> names = CatalogueNames();
    for (auto &n : names) printf("device: %s\n", n.c_str());
    printf("window %p err %lu\n", (void*)host_.handle(), GetLastError());
    KOVIC_SESSION session = OpenOn(kMainCamera);
    printf("width %d height %d\n", KOVICGetWidth(session), KOVICGetHeight(session));
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    for (int i = 0; i < 5; ++i) {
        const FrameMessage *frame = NextFrame(session);
        ASSERT_NE(frame, nullptr);
        vcam::DecodedPattern p = DecodeDeliveredFrame(frame->width, frame->height, frame->data);
        printf("frame %dx%d len %d t %f valid %d counter %u tag %u\n", frame->width, frame->height, frame->length,
               frame->sample_time, p.valid, p.counter, p.tag);
    }
    EXPECT_EQ(KOVICStopPreview(session), KOVIC_OK);
    EXPECT_EQ(KOVICClose(session), KOVIC_OK);
}

}  // namespace
}  // namespace kovic_wine
