// Test fixture for the emulated platform: a clean platform per test, a host
// window that records what it receives, and the check that every platform
// object created during the test is gone at its end.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kovic.h"
#include "platform/emulated/host_api.h"

namespace kovic_test {

// A compressed subtype the library does not read (H.264's FOURCC): its frames
// reach the sink only through the graph's converter, as RGB24.
constexpr GUID kUnreadSubtype = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

struct ReceivedMessage {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    std::string text;  // for KOVIC_MSG_STATUS: the text, copied during the call
};

// A host window whose procedure records every message.
class RecordingWindow {
public:
    RecordingWindow() { handle_ = emu::CreateHostWindow(&Procedure, this); }
    ~RecordingWindow() { emu::DestroyHostWindow(handle_); }
    HWND handle() const { return handle_; }
    void *as_arg() const { return handle_; }
    std::vector<ReceivedMessage> messages;
    std::vector<std::string> StatusTexts() const {
        std::vector<std::string> texts;
        for (const auto &m : messages)
            if (m.message == KOVIC_MSG_STATUS) texts.push_back(m.text);
        return texts;
    }

private:
    static LRESULT Procedure(HWND, UINT message, WPARAM wparam, LPARAM lparam, void *context) {
        auto *self = static_cast<RecordingWindow *>(context);
        ReceivedMessage m{message, wparam, lparam, {}};
        if (message == KOVIC_MSG_STATUS) m.text = reinterpret_cast<const char *>(wparam);
        self->messages.push_back(m);
        return 0;
    }
    HWND handle_;
};

class EmulatedTest : public ::testing::Test {
protected:
    void SetUp() override {
        emu::ResetPlatform();
        baseline_ = emu::LiveObjects();
    }
    void TearDown() override {
        emu::ClearFaults();
        EXPECT_EQ(emu::LiveObjects(), baseline_) << "platform objects left alive";
    }
    // Registers devices and rebuilds the catalogue.
    void CreateWith(const std::vector<emu::SimulatedDevice> &devices) {
        emu::ClearDevices();
        for (const auto &d : devices) emu::RegisterDevice(d);
        ASSERT_EQ(KOVICCreate(), 1);
    }
    static emu::SimulatedDevice Named(const wchar_t *name) {
        emu::SimulatedDevice d;
        d.friendly_name = name;
        return d;
    }
    int baseline_ = 0;
};

}  // namespace kovic_test
