// Fuzzes KOVICSaveSingleFrameBitmap over arbitrary descriptors and file names
// in a scratch folder, on sessions with and without a frame sink (built
// through the emulated platform), with file-service failures injected. The
// descriptor and its pixel bytes sit against inaccessible memory. Checks the
// result codes, that a written file holds the headers and the bytes unchanged,
// that a failed save leaves the target as it was and nothing else behind, and
// that no platform object outlives the call.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "guarded_buffer.h"
#include "kovic.h"
#include "platform/emulated/host_api.h"
#include "reliability/reference_bitmap.h"
#include "reliability/scratch_files.h"

namespace {

constexpr int64_t kLargestFrame = 64 << 10;

struct Stage {
    KOVIC_SESSION with_sink = 0;
    KOVIC_SESSION without_sink = 0;
    KOVIC_SESSION closed = 0;
    std::string folder;

    Stage() {
        emu::ResetPlatform();
        emu::RegisterDevice(emu::SimulatedDevice());
        KOVICCreate();
        with_sink = KOVICOpen(nullptr);
        if (KOVICGetWidth(with_sink) != 640) fuzz::Fail("the session's graph did not build");
        without_sink = KOVICOpen(nullptr);
        KOVICSelectDevice(without_sink, -1);
        closed = KOVICOpen(nullptr);
        KOVICClose(closed);
        char name[] = "/tmp/kovic-fuzz-XXXXXX";
        if (mkdtemp(name) == nullptr) fuzz::Fail("no scratch folder");
        folder = name;
    }
    // Each input removes what it wrote, so the folder is empty by now. The
    // sessions are closed as a host would before it exits: the library does
    // not tear down graphs of sessions left open at unload.
    ~Stage() {
        KOVICClose(with_sink);
        KOVICClose(without_sink);
        rmdir(folder.c_str());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Stage stage;
    fuzz::Input in(data, size);
    const uint8_t flags = in.Byte();
    const uint8_t more = in.Byte();
    const KOVIC_SESSION sessions[] = {stage.with_sink, stage.without_sink, 0, stage.closed};
    const KOVIC_SESSION session = sessions[flags & 3];
    const bool name_null = (flags & 4) != 0 && (more & 1) != 0;
    const bool frame_null = (flags & 8) != 0 && (more & 2) != 0;
    const bool data_null = (flags & 16) != 0;
    const int existing = (more >> 2) & 3;  // 1: an old file by that name, 2: a folder
    const bool fault = (flags & 32) != 0;

    FrameDescriptor values = {};
    values.width = in.Int32();
    values.height = in.Int32();
    values.length = (flags & 64) ? in.Int32() : static_cast<int32_t>(in.Byte()) * 7;
    values.sample_time = 0.25;
    values.busy = 1;
    if (values.length > kLargestFrame) values.length = static_cast<int32_t>(values.length % kLargestFrame);

    // One path component, never leaving the scratch folder.
    std::string component;
    const int name_bytes = in.Byte() % 48;
    for (int i = 0; i < name_bytes; ++i) {
        char c = static_cast<char>(in.Byte());
        component += (c == '/' || c == '\0') ? '_' : c;
    }
    component = "n" + component;
    const std::string path = stage.folder + "/" + component;

    emu::Call calls[] = {emu::Call::CreateFile, emu::Call::WriteFile, emu::Call::CloseHandle, emu::Call::MoveFile};
    const emu::Call fault_call = calls[in.Byte() % 4];
    const int fault_occurrence = 1 + in.Byte() % 3;
    const HRESULT fault_result = (in.Byte() & 1) ? S_FALSE : E_FAIL;

    fuzz::GuardedBuffer pixels(values.length > 0 && !data_null ? static_cast<size_t>(values.length) : 0);
    pixels.Fill(in.rest(), in.rest_size());
    values.data = data_null ? nullptr : pixels.data();
    fuzz::GuardedBuffer descriptor(sizeof(FrameDescriptor));
    std::memcpy(descriptor.data(), &values, sizeof(values));

    std::vector<uint8_t> before;
    if (existing == 1) {
        before = {'o', 'l', 'd'};
        std::ofstream(path, std::ios::binary).write("old", 3);
    } else if (existing == 2) {
        mkdir(path.c_str(), 0755);
    }

    const int live = emu::LiveObjects();
    emu::ClearFaults();
    if (fault) emu::FailCall(fault_call, fault_result, fault_occurrence);
    const int r = KOVICSaveSingleFrameBitmap(
        session, name_null ? nullptr : path.c_str(),
        frame_null ? nullptr : reinterpret_cast<const FrameDescriptor *>(descriptor.data()));
    const bool fired = emu::FaultsFired() > 0;
    emu::ClearFaults();

    int expected = -1;  // -1: written unless something refused it
    if (session == 0 || session == stage.closed) {
        expected = KOVIC_E_NULL_HANDLE;
    } else if (session == stage.without_sink) {
        expected = KOVIC_E_NO_FRAME_SINK;
    } else if (name_null) {
        expected = KOVIC_E_NO_FILE_NAME;
    } else if (frame_null || values.length < 0 || (values.length > 0 && data_null) || existing == 2) {
        expected = 0;
    }
    if (expected >= 0 && r != expected) fuzz::Fail("wrong result code");
    if (expected < 0 && !fired && r != 1) fuzz::Fail("a snapshot that should have been written was not");
    if (expected < 0 && r != 0 && r != 1) fuzz::Fail("a result other than 0 or 1");

    std::vector<uint8_t> after;
    const bool exists = scratch::ReadWholeFile(path, &after);
    if (r == 1) {
        std::vector<uint8_t> want = walk::ExpectedBitmapHeaders(values.width, values.height, values.length);
        if (values.length > 0) want.insert(want.end(), pixels.data(), pixels.data() + values.length);
        if (!exists || after != want) fuzz::Fail("the file does not hold the headers and the frame");
    } else if (existing == 1) {
        if (!exists || after != before) fuzz::Fail("a failed save changed the file it was to replace");
    } else if (existing == 0 && exists) {
        fuzz::Fail("a failed save left a file");
    }
    const std::set<std::string> entries = scratch::FolderEntries(stage.folder);
    if (entries.size() > (existing != 0 || r == 1 ? 1u : 0u)) fuzz::Fail("a temporary file left behind");
    if (emu::LiveObjects() != live) fuzz::Fail("a file handle left open");

    if (existing == 2) {
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
    return 0;
}
