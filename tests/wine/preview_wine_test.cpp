// Preview control and snapshots in the Windows build, against real window
// messages, a real filter graph's run control and the real file service (run
// under Wine, which has no capture device, so the sessions here are given a
// graph or a sink by hand).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frames/bitmap_writer.h"
#include "frames/frame_sink.h"
#include "graph/graph_assembly.h"
#include "graph/preview_control.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "support/capture_graph_peer.h"

namespace {

kovic::CaptureSession *Record(KOVIC_SESSION h) { return kovic::LookUpSession(h); }

// A window on this thread whose procedure keeps each status message: its text
// read during the call, and its lParam.
class StatusWindow {
public:
    struct Status {
        std::string text;
        LPARAM lparam;
    };

    StatusWindow() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &Procedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClass;
        atom_ = RegisterClassA(&wc);
        handle_ = CreateWindowExA(0, kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        statuses().clear();
    }
    ~StatusWindow() {
        if (handle_ != nullptr) DestroyWindow(handle_);
        if (atom_ != 0) UnregisterClassA(kClass, GetModuleHandleA(nullptr));
    }
    HWND handle() const { return handle_; }
    static std::vector<Status> &statuses() {
        static std::vector<Status> seen;
        return seen;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Status &s : statuses()) texts.push_back(s.text);
        return texts;
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == KOVIC_MSG_STATUS) {
            statuses().push_back({reinterpret_cast<const char *>(wparam), lparam});
            return 0;
        }
        return DefWindowProcA(window, message, wparam, lparam);
    }
    static constexpr const char *kClass = "KovicPreviewStatusWindow";
    ATOM atom_ = 0;
    HWND handle_ = nullptr;
};

class WinePreviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(KOVICCreate(), 1); }
};

TEST_F(WinePreviewTest, StatusTextsReachTheWindowProcedureDuringTheCall) {
    StatusWindow window;
    ASSERT_NE(window.handle(), nullptr);
    KOVIC_SESSION h = KOVICOpen(window.handle());
    kovic::NotifyStatus(window.handle(), "Preview Start");
    ASSERT_EQ(StatusWindow::statuses().size(), 1u) << "SendMessageA runs the procedure before returning";
    EXPECT_EQ(StatusWindow::statuses()[0].text, "Preview Start");
    EXPECT_EQ(StatusWindow::statuses()[0].lparam, 1024);
    kovic::NotifyStatus(window.handle(), "Preview Stop");
    EXPECT_EQ(window.Texts(), (std::vector<std::string>{"Preview Start", "Preview Stop"}));
    EXPECT_EQ(KOVICClose(h), 1);
}

// A real filter graph with nothing in it still runs and stops through its
// run control; the session is marked built by hand, since without a camera
// the library cannot build one.
TEST_F(WinePreviewTest, RunAndStopARealGraph) {
    StatusWindow window;
    KOVIC_SESSION h = KOVICOpen(window.handle());
    kovic::CaptureSession *s = Record(h);
    ASSERT_EQ(s->graph.CreateGraphObjects(*s), KOVIC_OK);
    EXPECT_EQ(s->graph.RunPreview(*s), KOVIC_E_GRAPH_NOT_BUILT);
    EXPECT_STREQ(s->last_error, "Preview graph not built");
    s->built = 1;

    ASSERT_EQ(s->graph.RunPreview(*s), KOVIC_OK);
    EXPECT_EQ(KOVICIsPreviewing(h), 1);
    kovic::ComPtr<IMediaControl> control;
    ASSERT_EQ(s->graph.filter_graph()->QueryInterface(IID_IMediaControl, control.ReleaseAndGetVoidAddressOf()), S_OK);
    OAFilterState state = State_Stopped;
    EXPECT_EQ(control->GetState(1000, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(s->graph.RunPreview(*s), KOVIC_E_PREVIEWING);

    EXPECT_EQ(KOVICStopPreview(h), KOVIC_OK);
    EXPECT_EQ(control->GetState(1000, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(KOVICStopPreview(h), KOVIC_E_NOT_PREVIEWING);
    EXPECT_EQ(window.Texts(), (std::vector<std::string>{"Preview Start", "Preview Stop"}));
    for (const auto &status : StatusWindow::statuses()) EXPECT_EQ(status.lparam, 1024);

    // Closing a running session stops it first, with its message.
    ASSERT_EQ(s->graph.RunPreview(*s), KOVIC_OK);
    control.Reset();
    EXPECT_EQ(KOVICClose(h), 1);
    EXPECT_EQ(window.Texts(),
              (std::vector<std::string>{"Preview Start", "Preview Stop", "Preview Start", "Preview Stop"}));
}

std::vector<unsigned char> ReadWithCreateFile(const std::string &path) {
    std::vector<unsigned char> bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    unsigned char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.insert(bytes.end(), chunk, chunk + read);
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The export with a descriptor the host filled: the file is the two headers
// and the pixels, byte for byte, and it replaces an existing file.
TEST_F(WinePreviewTest, SnapshotThroughTheExport) {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string dir = std::string(temp) + "kovic-preview-snapshot";
    CreateDirectoryA(dir.c_str(), nullptr);
    const std::string path = dir + "\\frame.bmp", other = dir + "\\other.bmp";
    DeleteFileA(path.c_str());
    DeleteFileA(other.c_str());

    KOVIC_SESSION h = KOVICOpen(nullptr);
    FrameDescriptor frame = {};
    frame.width = 320;
    frame.height = -240;
    std::vector<unsigned char> pixels(320 * 240 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>((i * 31) ^ (i >> 11));
    frame.data = pixels.data();
    frame.length = static_cast<int32_t>(pixels.size());
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, path.c_str(), &frame), KOVIC_E_NO_FRAME_SINK);
    kovic::CaptureGraphTestPeer::AdoptFrameSink(Record(h)->graph, kovic::FrameSink::Create(nullptr));  // released with the session
    ASSERT_NE(Record(h)->graph.frame_sink(), nullptr);

    for (int round = 0; round < 2; ++round) {  // the second replaces the first
        pixels[0] = static_cast<unsigned char>(round);
        ASSERT_EQ(KOVICSaveSingleFrameBitmap(h, path.c_str(), &frame), 1);
        unsigned char headers[kovic::kBitmapHeaderBytes];
        kovic::LayOutBitmapHeaders(320, -240, frame.length, headers);
        std::vector<unsigned char> expected(headers, headers + sizeof(headers));
        expected.insert(expected.end(), pixels.begin(), pixels.end());
        const std::vector<unsigned char> written = ReadWithCreateFile(path);
        EXPECT_EQ(written.size(), 230454u);
        EXPECT_TRUE(written == expected) << "round " << round;
    }

    EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, other.c_str(), nullptr), 0);
    frame.data = nullptr;
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, other.c_str(), &frame), 0);
    EXPECT_FALSE(Exists(other)) << "refused before any file was made";
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, nullptr, &frame), KOVIC_E_NO_FILE_NAME);
    EXPECT_EQ(KOVICClose(h), 1);

    DeleteFileA(path.c_str());
    RemoveDirectoryA(dir.c_str());
}

}  // namespace
