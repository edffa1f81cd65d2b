// The random walk: the world of simulated devices and host windows, choosing
// actions and faults from a seed, running each action on the library and on
// the model, and comparing results, platform calls, fired faults, sessions,
// frame descriptors, window messages, snapshot files and live platform
// objects after every action. Frames come from emu::DeliverSample, pushed on
// the walking thread, so a walk is deterministic. One thread.
#include "walker.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "frames/frame_sink.h"
#include "reference_i420.h"
#include "scratch_files.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "streaming.h"

namespace walk {
namespace {

using emu::Call;

// A compressed subtype the library does not read (H.264's FOURCC).
constexpr GUID kUnreadSubtype = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// splitmix64: the same numbers from the same seed on every machine.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int Below(int n) { return n <= 0 ? 0 : static_cast<int>(Next() % static_cast<uint64_t>(n)); }
    int Between(int low, int high) { return low + Below(high - low + 1); }
    bool Chance(double p) { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0) < p; }
    template <class T>
    const T &Pick(const std::vector<T> &from) { return from[static_cast<size_t>(Below(static_cast<int>(from.size())))]; }

private:
    uint64_t state_;
};

std::vector<uint8_t> BytesFrom(uint64_t seed, size_t n) {
    Rng r(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t &b : out) b = static_cast<uint8_t>(r.Next());
    return out;
}

const char *KindName(ActionKind k) {
    static const char *const kNames[] = {
        "KOVICCreate", "KOVICDestroy", "KOVICGetVideoDeviceCount", "KOVICGetVideoDevice", "KOVICOpen", "KOVICClose",
        "KOVICSelectDevice", "KOVICSetVideoFormat", "KOVICEnumVideoFormat", "KOVICGetWidth", "KOVICGetHeight",
        "KOVICStartPreview", "KOVICStopPreview", "KOVICIsPreviewing", "KOVICGetFrameCall", "KOVICGetYuvFrame",
        "KOVICSaveSingleFrameBitmap", "MirelGetDXVersion", "DeliverSample", "PumpMessages", "Replug",
    };
    return kNames[static_cast<int>(k)];
}

std::string Hex(long v) {
    char text[32];
    std::snprintf(text, sizeof(text), "0x%lx", static_cast<unsigned long>(static_cast<uint32_t>(v)));
    return text;
}

std::string GuidName(const GUID &g) {
    const std::pair<const GUID *, const char *> known[] = {
        {&CLSID_SystemDeviceEnum, "SystemDeviceEnum"}, {&CLSID_FilterGraph, "FilterGraph"},
        {&CLSID_CaptureGraphBuilder2, "CaptureGraphBuilder2"}, {&CLSID_SampleGrabber, "SampleGrabber"},
        {&CLSID_NullRenderer, "NullRenderer"}, {&IID_ISampleGrabber, "ISampleGrabber"},
        {&IID_IMediaControl, "IMediaControl"}, {&MEDIATYPE_Video, "Video"}, {&MEDIATYPE_Interleaved, "Interleaved"},
    };
    for (const auto &k : known) {
        if (IsEqualGUID(*k.first, g)) return k.second;
    }
    return "?";
}

// --- the world ---

emu::SimulatedFormat Format(const GUID &subtype, int32_t w, int32_t h) { return emu::SimulatedFormat{subtype, w, h}; }

// Devices with different capability sets and faults, small frames throughout.
std::vector<emu::SimulatedDevice> DeviceTemplates() {
    std::vector<emu::SimulatedDevice> t;
    emu::SimulatedDevice d;
    d.friendly_name = L"Cam A";
    d.capabilities = {Format(MEDIASUBTYPE_RGB24, 64, 48), Format(MEDIASUBTYPE_I420, 64, 48),
                      Format(MEDIASUBTYPE_RGB24, 32, 24), Format(MEDIASUBTYPE_YUY2, 16, 12)};
    d.current_format = Format(MEDIASUBTYPE_RGB24, 64, 48);
    t.push_back(d);  // 0: plain, direct

    emu::SimulatedDevice bagless = d;
    bagless.friendly_name = L"Bagless";
    bagless.property_bag_fails = true;
    t.push_back(bagless);  // 1: not catalogued, but counted when binding

    emu::SimulatedDevice accent;
    accent.friendly_name = L"Cam\u00e9ra \u00dc \u65e5 \U0001F4F7";  // the last a surrogate pair in UTF-16
    accent.output_pins = {emu::SourcePin::kPreview, emu::SourcePin::kCapture};
    accent.capabilities = {Format(MEDIASUBTYPE_RGB24, 32, -24), Format(MEDIASUBTYPE_I420, 16, 12),
                           Format(MEDIASUBTYPE_RGB24, 10, 6), Format(MEDIASUBTYPE_YUY2, 16, 12)};
    accent.capabilities.back().format_bytes = 40;  // no room for a size
    accent.current_format = Format(MEDIASUBTYPE_I420, 16, 12);
    accent.stream_config_for_interleaved = true;
    accent.connect_route = emu::ConnectRoute::kThroughConverter;
    t.push_back(accent);  // 2: preview pin first, through a converter

    emu::SimulatedDevice unbindable = d;
    unbindable.friendly_name = L"Unbindable";
    unbindable.bind_fails = true;
    t.push_back(unbindable);  // 3

    emu::SimulatedDevice no_config = d;
    no_config.friendly_name = L"No Config";
    no_config.stream_config_for_video = false;
    t.push_back(no_config);  // 4: FindInterface answers for nothing

    emu::SimulatedDevice refuser = d;
    refuser.friendly_name = L"Refuser";
    refuser.connect_route = emu::ConnectRoute::kRefused;
    t.push_back(refuser);  // 5

    emu::SimulatedDevice nameless;
    nameless.name_unreadable = true;
    nameless.clsid_unreadable = true;
    nameless.capabilities = {Format(MEDIASUBTYPE_RGB24, 8, 6), Format(MEDIASUBTYPE_RGB24, 12, 8)};
    nameless.capabilities[0].format_type = GUID_NULL;
    nameless.capabilities[1].format_bytes = 40;
    nameless.current_format = Format(MEDIASUBTYPE_RGB24, 8, 6);
    nameless.current_format.format_type = GUID_NULL;
    nameless.set_format_ignored = true;
    t.push_back(nameless);  // 6: no name, no usable current format

    emu::SimulatedDevice long_name = d;
    // 76 bytes, then a character outside the Basic Multilingual Plane: its
    // high surrogate alone would still fit, the whole pair does not.
    long_name.friendly_name = std::wstring(70, L'L') + L"\u00e9\u00e9\u00e9\U0001F4F7\u00e9\u00e9 tail";
    long_name.capabilities = {Format(MEDIASUBTYPE_I420, 8, 8), Format(MEDIASUBTYPE_RGB24, 8, 8)};
    long_name.current_format = Format(MEDIASUBTYPE_RGB24, 8, 8);
    t.push_back(long_name);  // 7: a name too long for its buffer

    emu::SimulatedDevice top_down;
    top_down.friendly_name = L"Cam A";  // the same name as another
    top_down.capabilities = {Format(MEDIASUBTYPE_RGB24, 16, -12), Format(MEDIASUBTYPE_RGB24, 16, 12)};
    top_down.current_format = Format(MEDIASUBTYPE_RGB24, 16, -12);
    top_down.stream_config_for_interleaved = true;
    top_down.stream_config_for_video = false;
    t.push_back(top_down);  // 8: top-down rows

    emu::SimulatedDevice odd;
    odd.friendly_name = L"Odd Width";
    odd.capabilities = {Format(MEDIASUBTYPE_I420, 10, 6), Format(MEDIASUBTYPE_RGB24, 10, 6),
                        Format(MEDIASUBTYPE_RGB24, 6, 4)};
    odd.current_format = Format(MEDIASUBTYPE_RGB24, 10, 6);
    t.push_back(odd);  // 9: rows padded to whole words

    emu::SimulatedDevice formats;
    formats.friendly_name = L"Every Format";
    formats.capabilities = {Format(MEDIASUBTYPE_NV12, 16, 12), Format(MEDIASUBTYPE_UYVY, 16, 12),
                            Format(MEDIASUBTYPE_YUY2, 16, 12), Format(MEDIASUBTYPE_YV12, 10, 6),
                            Format(MEDIASUBTYPE_RGB32, 12, -8), emu::VideoInfo2Format(kUnreadSubtype, 24, 18),
                            Format(MEDIASUBTYPE_IYUV, 8, 6)};
    formats.capabilities[2].frames_per_second = 60;  // the fastest of the three of 16 by 12
    formats.current_format = Format(MEDIASUBTYPE_NV12, 16, 12);
    t.push_back(formats);  // 10: converted formats, chosen by frame rate

    emu::SimulatedDevice uncategorised;
    uncategorised.friendly_name = L"No Category";
    uncategorised.pins_report_category = false;
    uncategorised.capabilities = {Format(MEDIASUBTYPE_YUY2, 16, 12), Format(MEDIASUBTYPE_UYVY, 10, 6),
                                  Format(MEDIASUBTYPE_RGB32, 10, 6), emu::VideoInfo2Format(MEDIASUBTYPE_NV12, 8, 6)};
    uncategorised.current_format = Format(MEDIASUBTYPE_YUY2, 16, 12);
    t.push_back(uncategorised);  // 11: its stream configuration found on the pin

    emu::SimulatedDevice compressed;
    compressed.friendly_name = L"Compressed";
    compressed.capabilities = {Format(kUnreadSubtype, 16, 12), Format(MEDIASUBTYPE_NV12, 32, 24),
                               Format(kUnreadSubtype, 32, 24)};
    compressed.capabilities[1].frames_per_second = 15;
    compressed.current_format = Format(kUnreadSubtype, 16, 12);
    compressed.connect_route = emu::ConnectRoute::kThroughConverter;
    t.push_back(compressed);  // 12: a format only the graph's converter delivers

    emu::SimulatedDevice webcam;
    webcam.friendly_name = L"MJPG Webcam";
    webcam.capabilities = {Format(MEDIASUBTYPE_MJPG, 16, 12), Format(MEDIASUBTYPE_YUY2, 32, 24),
                           emu::VideoInfo2Format(MEDIASUBTYPE_MJPG, 32, 24), Format(MEDIASUBTYPE_MJPG, 24, -18),
                           Format(MEDIASUBTYPE_RGB24, 24, 18)};
    webcam.capabilities[1].frames_per_second = 10;  // MJPG wins at 32 by 24; RGB24 at 24 by 18
    webcam.current_format = Format(MEDIASUBTYPE_MJPG, 16, 12);
    webcam.jpeg_huffman_tables = false;
    webcam.corrupt_jpeg_every = 3;
    t.push_back(webcam);  // 13: decoded by the library, every third streamed frame corrupt
    return t;
}

// --- host windows ---

struct Received {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    std::string text;
};

struct RealWindow {
    HWND handle = nullptr;
    bool auto_pump = true;
    std::vector<Received> received;

    static LRESULT Procedure(HWND, UINT message, WPARAM wparam, LPARAM lparam, void *context) {
        auto *self = static_cast<RealWindow *>(context);
        Received r{message, wparam, lparam, {}};
        if (message == KOVIC_MSG_STATUS) r.text = reinterpret_cast<const char *>(wparam);
        self->received.push_back(r);
        return 0;
    }
};

kovic::CaptureSession *Record(intptr_t handle) { return kovic::LookUpSession(handle); }

const char *const kFileNames[] = {"a.bmp", "b.bmp", "missing/c.bmp", "folder"};
constexpr int kFileChoices = 5;  // the four names and a null name

void RemoveTree(const std::string &path) {
    DIR *dir = opendir(path.c_str());
    if (dir != nullptr) {
        while (dirent *e = readdir(dir)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            RemoveTree(path + "/" + name);
        }
        closedir(dir);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

using scratch::FolderEntries;
using scratch::ReadWholeFile;

// Everything an action needs, worked out before it runs: the handle value, the
// snapshot's descriptor (as the model sees it, and the pointer the library
// gets), the sample's bytes, the conversion's source.
struct Inputs {
    intptr_t handle = 0;
    DescriptorView view;
    const FrameDescriptor *frame = nullptr;
    std::string file_key;
    std::string path;
    bool name_given = false;
    bool folder_exists = true;
    bool target_is_folder = false;
    std::vector<uint8_t> sample;
    int yuv_width = 0, yuv_height = 0, yuv_length = 0;
    std::vector<uint8_t> yuv_source;      // what the model says the source holds
    const uint8_t *yuv_pointer = nullptr;  // what the library is given
};

class Walk {
public:
    Walk(uint64_t seed, WalkStats *stats, bool misdescribe)
        : rng_(seed), stats_(stats), model_({}, {}, {}, emu::ComInitDepth() > 0) {
        emu::ResetPlatform();
        char folder[] = "/tmp/kovic-walk-XXXXXX";
        if (mkdtemp(folder) != nullptr) folder_ = folder;
        mkdir((folder_ + "/folder").c_str(), 0755);

        // The world: one good camera and a random choice of the others.
        const std::vector<emu::SimulatedDevice> templates = DeviceTemplates();
        Rng world(seed ^ 0x5EEDF00DULL);
        std::vector<int> chosen = {0};
        for (int i = 1; i < static_cast<int>(templates.size()); ++i) {
            if (world.Chance(0.5)) chosen.push_back(i);
        }
        for (size_t i = chosen.size(); i > 1; --i) std::swap(chosen[i - 1], chosen[static_cast<size_t>(world.Below(static_cast<int>(i)))]);
        for (int i : chosen) world_.push_back(templates[static_cast<size_t>(i)]);
        // Where the platform's devices can make their own frames, some do,
        // quickly, so that a walk need not wait long for them.
        streams_.assign(world_.size(), false);
        for (size_t i = 0; i < world_.size(); ++i) {
            if (!kDevicesCanStream || !world.Chance(0.4)) continue;
            streams_[i] = true;
            world_[i].frames_per_second = 500;
            MakeStreaming(&world_[i]);
        }
        std::vector<emu::SimulatedDevice> described = world_;
        if (misdescribe) {
            for (emu::SimulatedDevice &d : described) d.current_format.width += 2;
        }
        described_ = described;
        for (const emu::SimulatedDevice &d : world_) emu::RegisterDevice(d);

        // Two windows pumped after every action, one with room for a single
        // queued message that is pumped only when asked, and one already gone.
        std::vector<WindowModel> windows(4);
        for (int i = 0; i < 4; ++i) {
            auto w = std::make_unique<RealWindow>();
            size_t capacity = i == 2 ? 1 : 1024;
            w->handle = emu::CreateHostWindow(&RealWindow::Procedure, w.get(), capacity);
            w->auto_pump = i != 2;
            windows[static_cast<size_t>(i)].capacity = capacity;
            windows[static_cast<size_t>(i)].pumped_after_every_action = i != 2;
            windows_.push_back(std::move(w));
        }
        emu::DestroyHostWindow(windows_[3]->handle);
        windows[3].alive = false;
        model_ = Model(described, streams_, windows, emu::ComInitDepth() > 0);
        emu::ClearDebugOutput();
        baseline_ = emu::LiveObjects();
    }

    ~Walk() {
        emu::ClearFaults();
        for (const Slot &s : slots_) {
            if (s.handle != 0) KOVICClose(s.handle);
        }
        for (auto &w : windows_) {
            if (w->handle != windows_[3]->handle) emu::DestroyHostWindow(w->handle);
        }
        if (!folder_.empty()) RemoveTree(folder_);
        emu::ResetPlatform();
    }

    WalkResult Run(int length) {
        for (int i = 0; i < length; ++i) {
            Action a = i == 0 ? First() : Generate();
            result_.actions.push_back(a);
            if (!Step(a, i)) return result_;
        }
        Finish(length);
        return result_;
    }

    WalkResult Replay(const std::vector<Action> &actions) {
        for (size_t i = 0; i < actions.size(); ++i) {
            result_.actions.push_back(actions[i]);
            if (!Step(actions[i], static_cast<int>(i))) return result_;
        }
        Finish(static_cast<int>(actions.size()));
        return result_;
    }

private:
    struct Slot {
        intptr_t handle = 0;
    };

    // --- choosing actions ---

    Action First() {
        Action a;
        a.kind = ActionKind::kCreate;
        return a;
    }

    std::vector<int> OpenSlots() const {
        std::vector<int> open;
        for (size_t i = 0; i < model_.session_slots(); ++i) {
            if (model_.session(static_cast<int>(i)).open) open.push_back(static_cast<int>(i));
        }
        return open;
    }

    std::vector<int> SlotsWhere(bool (*want)(const SessionModel &)) const {
        std::vector<int> out;
        for (int s : OpenSlots()) {
            if (want(model_.session(s))) out.push_back(s);
        }
        return out;
    }

    // A session for a session export: mostly a live one, sometimes a null
    // handle, a closed session's handle or an address that is no session.
    void ChooseSession(Action *a, const std::vector<int> &preferred) {
        const std::vector<int> open = OpenSlots();
        int roll = rng_.Below(100);
        if (roll < 4 || open.empty()) {
            a->handle = HandleKind::kNull;
        } else if (roll < 7) {
            a->handle = HandleKind::kNotASession;
        } else if (roll < 11 && slots_.size() > open.size()) {
            std::vector<int> closed;
            for (size_t i = 0; i < slots_.size(); ++i) {
                if (!model_.session(static_cast<int>(i)).open) closed.push_back(static_cast<int>(i));
            }
            a->slot = rng_.Pick(closed);
        } else {
            a->slot = rng_.Pick(preferred.empty() ? open : preferred);
        }
    }

    std::pair<int, int> ChooseSize() {
        static const std::vector<std::pair<int, int>> special = {{0, 0}, {64, 0}, {0, 48}, {-4, 6}, {1, 1}, {640, 480}};
        if (rng_.Chance(0.2)) return rng_.Pick(special);
        const emu::SimulatedDevice &d = rng_.Pick(world_);
        if (d.capabilities.empty()) return {0, 0};
        const emu::SimulatedFormat &f = rng_.Pick(d.capabilities);
        return {f.width, f.height < 0 ? -f.height : f.height};
    }

    Action Generate() {
        struct Weighted {
            ActionKind kind;
            int weight;
        };
        const std::vector<int> open = OpenSlots();
        const std::vector<int> built = SlotsWhere([](const SessionModel &s) { return s.built; });
        const std::vector<int> with_sink = SlotsWhere([](const SessionModel &s) { return s.sink.has_value(); });
        const std::vector<Weighted> table = {
            {ActionKind::kCreate, 2},        {ActionKind::kDestroy, 1},     {ActionKind::kDeviceCount, 1},
            {ActionKind::kGetDevice, 4},     {ActionKind::kOpen, open.size() < 4 ? (open.empty() ? 200 : 5) : 0},
            {ActionKind::kClose, 3},         {ActionKind::kSelect, 6},      {ActionKind::kSetFormat, 6},
            {ActionKind::kEnumFormat, 5},    {ActionKind::kGetWidth, 4},    {ActionKind::kGetHeight, 2},
            {ActionKind::kStart, 12},        {ActionKind::kStop, 7},        {ActionKind::kIsPreviewing, 1},
            {ActionKind::kFrameCall, 14},    {ActionKind::kYuvFrame, 3},    {ActionKind::kSave, 5},
            {ActionKind::kDxVersion, 1},     {ActionKind::kDeliver, built.empty() ? 0 : 16},
            {ActionKind::kPump, 3},          {ActionKind::kReplug, 1},
        };
        int total = 0;
        for (const Weighted &w : table) total += w.weight;
        int roll = rng_.Below(total);
        Action a;
        for (const Weighted &w : table) {
            if (roll < w.weight) {
                a.kind = w.kind;
                break;
            }
            roll -= w.weight;
        }
        const int catalogue = static_cast<int>(model_.catalogue().size());
        a.bytes_seed = rng_.Next();
        switch (a.kind) {
            case ActionKind::kGetDevice:
                a.a = rng_.Between(-2, catalogue + 1);
                a.b = rng_.Chance(0.9) ? 1 : 0;
                break;
            case ActionKind::kOpen:
                a.slot = static_cast<int>(slots_.size());
                slots_.push_back(Slot());
                a.a = rng_.Pick(std::vector<int>{0, 0, 0, 1, 1, 2, -1, 3});
                break;
            case ActionKind::kClose:
            case ActionKind::kGetWidth:
            case ActionKind::kGetHeight:
            case ActionKind::kIsPreviewing:
                ChooseSession(&a, {});
                break;
            case ActionKind::kStart:
            case ActionKind::kStop:
                ChooseSession(&a, built);
                break;
            case ActionKind::kFrameCall:
                ChooseSession(&a, with_sink);
                break;
            case ActionKind::kSelect:
                ChooseSession(&a, {});
                a.a = rng_.Between(-2, catalogue + 1);
                break;
            case ActionKind::kSetFormat:
            case ActionKind::kEnumFormat: {
                ChooseSession(&a, {});
                auto size = ChooseSize();
                a.a = size.first;
                a.b = size.second;
                break;
            }
            case ActionKind::kYuvFrame:
                a.slot = with_sink.empty() ? -1 : rng_.Pick(with_sink);
                break;
            case ActionKind::kSave:
                ChooseSession(&a, with_sink);
                a.name = rng_.Below(kFileChoices);
                a.frame = rng_.Below(4);
                a.b = with_sink.empty() ? -1 : rng_.Pick(with_sink);
                break;
            case ActionKind::kDeliver: {
                // Mostly into a running graph, where a sample can become a frame.
                const std::vector<int> running =
                    SlotsWhere([](const SessionModel &s) { return s.built && s.graph.running; });
                a.slot = rng_.Pick(running.empty() || rng_.Chance(0.2) ? built : running);
                a.a = rng_.Below(10);
                break;
            }
            case ActionKind::kReplug: {
                for (size_t i = 0; i < world_.size(); ++i) {
                    if (rng_.Chance(0.8)) a.devices.push_back(static_cast<int>(i));
                }
                for (size_t i = a.devices.size(); i > 1; --i) {
                    std::swap(a.devices[i - 1], a.devices[static_cast<size_t>(rng_.Below(static_cast<int>(i)))]);
                }
                break;
            }
            default:
                break;
        }
        MaybeArmFault(&a);
        return a;
    }

    // A fault at one of the calls the action is about to make (found by a dry
    // run on a copy of the model), now and then one past the last of them or
    // one that fails every such call; sometimes a second one on the path the
    // first leaves the action on.
    void MaybeArmFault(Action *a) {
        const double chance = a->kind == ActionKind::kOpen ? 0.15 : 0.45;
        if (!rng_.Chance(chance)) return;
        for (int n = 0; n < 2; ++n) {
            if (n == 1 && !rng_.Chance(0.25)) return;
            Model dry = model_;
            Inputs in = Prepare(*a);
            Outcome o = Predict(dry, *a, in, nullptr);
            if (o.trace.empty()) return;
            const size_t at_index = static_cast<size_t>(rng_.Below(static_cast<int>(o.trace.size())));
            const TracedCall &at = o.trace[at_index];
            Fault f;
            f.call = at.call;
            const bool targeted = at.has_target && rng_.Chance(0.5);
            f.has_target = targeted;
            f.target = targeted ? at.target : GUID_NULL;
            int same = 0, position = 0;
            for (size_t i = 0; i < o.trace.size(); ++i) {
                const TracedCall &t = o.trace[i];
                if (t.call != at.call || (targeted && !IsEqualGUID(t.target, at.target))) continue;
                ++same;
                if (i == at_index) position = same;
            }
            const int roll = rng_.Below(100);
            f.occurrence = roll < 6 ? 0 : (roll < 14 ? same + 1 : position);
            static const std::vector<HRESULT> results = {E_FAIL, E_FAIL, E_NOINTERFACE, E_OUTOFMEMORY, E_UNEXPECTED,
                                                         HRESULT_FROM_WIN32_FILE_NOT_FOUND, S_FALSE, S_FALSE};
            f.result = rng_.Pick(results);
            if (!model_.CanPredict(f)) return;
            // A streaming device's frames allocate and post on their own
            // thread: failures of those calls cannot be placed while it may run.
            const bool may_stream = std::find(streams_.begin(), streams_.end(), true) != streams_.end() &&
                                    (a->kind == ActionKind::kStart || a->kind == ActionKind::kFrameCall);
            if (may_stream && (f.call == Call::LibraryAlloc || f.call == Call::PostMessage)) return;
            a->faults.push_back(f);
        }
    }

    // --- running one action ---

    intptr_t HandleOf(const Action &a) const {
        switch (a.handle) {
            case HandleKind::kNull:
                return 0;
            case HandleKind::kNotASession:
                return reinterpret_cast<intptr_t>(&not_a_session_);
            case HandleKind::kSlot:
                break;
        }
        return a.slot >= 0 && static_cast<size_t>(a.slot) < slots_.size() ? slots_[static_cast<size_t>(a.slot)].handle
                                                                            : 0;
    }

    const FrameDescriptor *RealDescriptor(int slot) const {
        if (slot < 0 || static_cast<size_t>(slot) >= slots_.size() || static_cast<size_t>(slot) >= model_.session_slots() ||
            !model_.session(slot).open) {
            return nullptr;
        }
        kovic::CaptureSession *s = kovic::LookUpSession(slots_[static_cast<size_t>(slot)].handle);
        return s != nullptr && s->graph.frame_sink() != nullptr ? s->graph.frame_sink()->descriptor() : nullptr;
    }

    static DescriptorView ViewOf(const SinkModel &k) {
        DescriptorView v;
        v.width = k.width;
        v.height = k.height;
        v.length = k.length;
        v.data_null = !k.has_buffer;
        if (k.has_buffer) v.data.assign(k.content.begin(), k.content.begin() + k.length);
        return v;
    }

    // A buffer whose bytes the model does not know (what a failed decode
    // left) is read from the library's own buffer, so that what the host does
    // with it can still be predicted.
    static void TakeUnknownBytes(const SinkModel &k, const FrameDescriptor *d, std::vector<uint8_t> *bytes) {
        if (k.content_known || !k.has_buffer || d == nullptr || d->data == nullptr || k.length <= 0) return;
        bytes->assign(d->data, d->data + k.length);
    }

    Inputs Prepare(const Action &a) {
        Inputs in;
        in.handle = HandleOf(a);
        switch (a.kind) {
            case ActionKind::kSave: {
                in.name_given = a.name < 4;
                if (in.name_given) {
                    in.file_key = kFileNames[a.name];
                    in.path = folder_ + "/" + in.file_key;
                    in.folder_exists = a.name != 2;
                    in.target_is_folder = a.name == 3;
                }
                const int resolved = model_.SlotOf(in.handle);
                const int source_slot = a.frame == 0 ? resolved : (a.frame == 1 ? a.b : -1);
                if (a.frame <= 1) {
                    if (source_slot >= 0 && model_.session(source_slot).open && model_.session(source_slot).sink) {
                        in.view = ViewOf(*model_.session(source_slot).sink);
                        in.frame = RealDescriptor(source_slot);
                        TakeUnknownBytes(*model_.session(source_slot).sink, in.frame, &in.view.data);
                    } else {
                        in.view.null = true;
                    }
                } else if (a.frame == 2) {
                    Rng r(a.bytes_seed);
                    synthetic_ = FrameDescriptor();
                    synthetic_.width = r.Between(-8, 64);
                    synthetic_.height = r.Between(-8, 48);
                    synthetic_.length = r.Chance(0.1) ? -1 : (r.Chance(0.2) ? 0 : r.Between(1, 600));
                    synthetic_bytes_ = BytesFrom(a.bytes_seed + 1, synthetic_.length > 0 ? synthetic_.length : 0);
                    const bool data_null = r.Chance(0.15);
                    synthetic_.data = data_null ? nullptr : synthetic_bytes_.data();
                    in.view.width = synthetic_.width;
                    in.view.height = synthetic_.height;
                    in.view.length = synthetic_.length;
                    in.view.data_null = synthetic_.data == nullptr;
                    if (!in.view.data_null) in.view.data = synthetic_bytes_;
                    in.frame = &synthetic_;
                } else {
                    in.view.null = true;
                }
                break;
            }
            case ActionKind::kDeliver: {
                const SessionModel &s = model_.session(a.slot);
                const int32_t exact = static_cast<int32_t>(Model::FrameBytes(s.graph.current));
                int32_t length = exact;
                if (a.a == 6) length = exact > 3 ? exact - 3 : exact;  // shorter
                if (a.a == 7) length = exact + 16;                     // longer
                if (a.a == 8) length = 0;                              // no bytes
                if (a.a == 9) length = 1 + static_cast<int32_t>(a.bytes_seed % 7);
                in.sample = BytesFrom(a.bytes_seed, static_cast<size_t>(length));
                if (IsEqualGUID(s.graph.current.subtype, MEDIASUBTYPE_MJPG) && a.a < 6 && length > 0) {
                    // A picture of the device's pattern, with or without its
                    // tables, and now and then corrupt.
                    const uint32_t n = static_cast<uint32_t>(a.bytes_seed % 1000);
                    const size_t bytes = emu::EncodeTestPatternJpeg(s.graph.current, n, a.a % 2 == 0,
                                                                    in.sample.data(), in.sample.size());
                    in.sample.resize(a.a == 5 ? emu::CorruptJpegFrame(n, 1, in.sample.data(), bytes) : bytes);
                }
                break;
            }
            case ActionKind::kYuvFrame: {
                // The frame a session's sink holds, when it makes a valid
                // conversion; a frame of the walker's own otherwise.
                const SinkModel *k = nullptr;
                if (a.slot >= 0 && model_.session(a.slot).open && model_.session(a.slot).sink) {
                    k = &*model_.session(a.slot).sink;
                }
                if (k != nullptr && k->has_buffer && I420ArgumentsValid(k->width, k->height, k->length)) {
                    in.yuv_width = k->width;
                    in.yuv_height = k->height;
                    in.yuv_length = k->length;
                    in.yuv_source.assign(k->content.begin(), k->content.begin() + k->length);
                    const FrameDescriptor *d = RealDescriptor(a.slot);
                    TakeUnknownBytes(*k, d, &in.yuv_source);
                    in.yuv_pointer = d != nullptr ? d->data : nullptr;
                } else {
                    Rng r(a.bytes_seed);
                    in.yuv_width = 2 * r.Between(1, 12);
                    in.yuv_height = 2 * r.Between(1, 8);
                    in.yuv_length = 3 * in.yuv_width * in.yuv_height + r.Between(0, 5);
                    in.yuv_source = BytesFrom(a.bytes_seed + 7, static_cast<size_t>(in.yuv_length));
                }
                break;
            }
            default:
                break;
        }
        return in;
    }

    Outcome Predict(Model &m, const Action &a, const Inputs &in, ExpectedName *name) {
        const Faults *f = a.faults.empty() ? nullptr : &a.faults;
        switch (a.kind) {
            case ActionKind::kCreate: return m.Create(f);
            case ActionKind::kDestroy: return m.Destroy();
            case ActionKind::kDeviceCount: return m.GetVideoDeviceCount();
            case ActionKind::kGetDevice: {
                ExpectedName ignored;
                return m.GetVideoDevice(a.a, a.b != 0, name != nullptr ? name : &ignored);
            }
            case ActionKind::kOpen: return m.Open(a.slot, a.a, f);
            case ActionKind::kClose: return m.Close(in.handle, f);
            case ActionKind::kSelect: return m.SelectDevice(in.handle, a.a);
            case ActionKind::kSetFormat: return m.SetVideoFormat(in.handle, a.a, a.b);
            case ActionKind::kEnumFormat: return m.EnumVideoFormat(in.handle, a.a, a.b, f);
            case ActionKind::kGetWidth: return m.GetWidth(in.handle, f);
            case ActionKind::kGetHeight: return m.GetHeight(in.handle, f);
            case ActionKind::kStart: return m.StartPreview(in.handle, f);
            case ActionKind::kStop: return m.StopPreview(in.handle, f);
            case ActionKind::kIsPreviewing: return m.IsPreviewing(in.handle);
            case ActionKind::kFrameCall: return m.GetFrameCall(in.handle);
            case ActionKind::kSave:
                return m.SaveSingleFrameBitmap(in.handle, in.name_given, in.file_key, in.folder_exists,
                                               in.target_is_folder, in.view, f);
            case ActionKind::kDxVersion: return m.GetDxVersion();
            case ActionKind::kDeliver:
                return m.DeliverSample(a.slot, static_cast<int64_t>(a.bytes_seed % 100000000), in.sample, f);
            case ActionKind::kPump: {
                Outcome o;
                o.result = static_cast<int>(m.window(2).queued.size());
                m.Pump(2);
                return o;
            }
            case ActionKind::kReplug: {
                std::vector<emu::SimulatedDevice> devices;
                std::vector<bool> streams;
                for (int i : a.devices) {
                    devices.push_back(described_[static_cast<size_t>(i)]);
                    streams.push_back(streams_[static_cast<size_t>(i)]);
                }
                m.Replug(devices, streams);
                return Outcome();
            }
            case ActionKind::kYuvFrame: {
                Outcome o;
                o.result = KOVIC_OK;
                return o;
            }
        }
        return Outcome();
    }

    HWND WindowHandle(int w) const { return w < 0 ? nullptr : windows_[static_cast<size_t>(w)]->handle; }

    int Execute(const Action &a, const Inputs &in) {
        switch (a.kind) {
            case ActionKind::kCreate: return KOVICCreate();
            case ActionKind::kDestroy: return KOVICDestroy();
            case ActionKind::kDeviceCount: return KOVICGetVideoDeviceCount();
            case ActionKind::kGetDevice:
                std::memset(name_buffer_, 0xA5, sizeof(name_buffer_));
                return KOVICGetVideoDevice(a.a, a.b != 0 ? name_buffer_ : nullptr);
            case ActionKind::kOpen:
                last_opened_ = KOVICOpen(WindowHandle(a.a));
                return last_opened_ != 0 ? 1 : 0;
            case ActionKind::kClose: return KOVICClose(in.handle);
            case ActionKind::kSelect: return KOVICSelectDevice(in.handle, a.a);
            case ActionKind::kSetFormat: return KOVICSetVideoFormat(in.handle, a.a, a.b);
            case ActionKind::kEnumFormat: return KOVICEnumVideoFormat(in.handle, a.a, a.b);
            case ActionKind::kGetWidth: return KOVICGetWidth(in.handle);
            case ActionKind::kGetHeight: return KOVICGetHeight(in.handle);
            case ActionKind::kStart: return KOVICStartPreview(in.handle);
            case ActionKind::kStop: return KOVICStopPreview(in.handle);
            case ActionKind::kIsPreviewing: return KOVICIsPreviewing(in.handle);
            case ActionKind::kFrameCall: return KOVICGetFrameCall(in.handle);
            case ActionKind::kSave:
                return KOVICSaveSingleFrameBitmap(in.handle, in.name_given ? in.path.c_str() : nullptr, in.frame);
            case ActionKind::kDxVersion: return static_cast<int>(MirelGetDXVersion());
            case ActionKind::kDeliver: {
                kovic::CaptureSession *s = Record(slots_[static_cast<size_t>(a.slot)].handle);
                IBaseFilter *source = s->graph.device_source();
                if (source == nullptr) return E_INVALIDARG;
                ++stats_->frames_delivered;
                return emu::DeliverSample(source, static_cast<REFERENCE_TIME>(a.bytes_seed % 100000000),
                                          in.sample.data(), static_cast<LONG>(in.sample.size()));
            }
            case ActionKind::kPump: return emu::PumpMessages(windows_[2]->handle);
            case ActionKind::kReplug:
                emu::ClearDevices();
                for (int i : a.devices) emu::RegisterDevice(world_[static_cast<size_t>(i)]);
                return 0;
            case ActionKind::kYuvFrame: return 0;  // run by CheckConversion
        }
        return 0;
    }

    // Waits for the frames that streaming devices owe to running, armed
    // sinks (each sink's post is the last thing its delivery does) and hands
    // them to the model. `posts_before`: the posts the action made itself.
    bool AwaitStreamedFrames(int posts_before, int *owed_count, std::string *what) {
        std::vector<int> owed;
        for (int slot : OpenSlots()) {
            if (model_.AwaitsStreamedFrame(slot)) owed.push_back(slot);
        }
        *owed_count = static_cast<int>(owed.size());
        if (owed.empty()) return true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (emu::CallCount(Call::PostMessage) < posts_before + *owed_count) {
            if (std::chrono::steady_clock::now() > deadline) {
                *what = "a running, armed sink received no streamed frame";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        for (int slot : owed) {
            const FrameDescriptor *d = RealDescriptor(slot);
            if (d == nullptr) {
                *what = "a streamed frame for a session without a sink";
                return false;
            }
            // The frame number from its sample time.
            const double per_frame = model_.StreamedFrameTime(slot, 1);
            const double n = per_frame > 0 ? d->sample_time / per_frame : 0;
            if (!(n >= 0 && n < 4e9)) {
                *what = "a streamed frame at sample time " + std::to_string(d->sample_time);
                return false;
            }
            model_.StreamedFrame(slot, static_cast<uint32_t>(std::llround(n)));
        }
        return true;
    }

    bool Fail(int index, const Action &a, const std::string &what) {
        std::ostringstream text;
        text << "action " << index << " " << a.Describe() << ": " << what;
        result_.passed = false;
        result_.failure = text.str();
        result_.failed_at = index;
        return false;
    }

    bool Step(const Action &a, int index) {
        ++stats_->actions;
        if (a.kind == ActionKind::kOpen && static_cast<size_t>(a.slot) >= slots_.size()) {
            slots_.resize(static_cast<size_t>(a.slot) + 1);
        }
        if (a.kind == ActionKind::kDeliver &&
            (kovic::LookUpSession(slots_[static_cast<size_t>(a.slot)].handle) == nullptr || !model_.session(a.slot).open)) {
            return Fail(index, a, "a delivery to a session that is not open");
        }
        Inputs in = Prepare(a);
        ExpectedName expected_name;
        Outcome o = Predict(model_, a, in, &expected_name);

        emu::ClearFaults();
        emu::ResetCallCounts();
        for (const Fault &f : a.faults) {
            emu::FailCall(f.call, f.result, f.occurrence, f.has_target ? &f.target : nullptr);
            ++stats_->faults_armed;
        }
        int real = 0;
        std::vector<uint8_t> converted;
        if (a.kind == ActionKind::kYuvFrame) {
            converted.assign(I420Bytes(in.yuv_width, in.yuv_height) + 64, 0xC3);
            const uint8_t *source = in.yuv_pointer != nullptr ? in.yuv_pointer : in.yuv_source.data();
            real = KOVICGetYuvFrame(converted.data() + 32, source, in.yuv_width, in.yuv_height, in.yuv_length);
        } else {
            real = Execute(a, in);
        }
        if (a.kind != ActionKind::kDeliver && a.kind != ActionKind::kPump && a.kind != ActionKind::kReplug) {
            ++stats_->export_calls;
        }
        ++stats_->results[std::string(KindName(a.kind)) + " " + Hex(real)];
        const int fired = emu::FaultsFired();
        int counts[kCallKinds];
        for (int c = 0; c < kCallKinds; ++c) counts[c] = emu::CallCount(static_cast<Call>(c));
        emu::ClearFaults();
        stats_->faults_fired += fired;

        if (a.kind == ActionKind::kOpen) {
            slots_[static_cast<size_t>(a.slot)].handle = last_opened_;
            if (model_.session(a.slot).open) model_.BindHandle(a.slot, last_opened_);
        }
        std::string extra;
        int owed = 0;
        for (const TracedCall &t : o.trace) owed -= t.call == Call::PostMessage ? 1 : 0;
        if (!AwaitStreamedFrames(-owed, &owed, &extra)) return Fail(index, a, extra);
        if (owed > 0) {
            // Frames streamed during the action made calls of their own.
            o.count_unknown[static_cast<int>(Call::LibraryAlloc)] = true;
            o.count_unknown[static_cast<int>(Call::PostMessage)] = true;
        }
        model_.PumpAutomatic();
        for (auto &w : windows_) {
            if (w->auto_pump) emu::PumpMessages(w->handle);
        }

        // The result and the platform calls.
        const bool result_ok = o.result_is == Outcome::ResultIs::kNonZero ? real != 0 : real == o.result;
        if (!result_ok) {
            return Fail(index, a, "result " + Hex(real) + ", model " + Hex(o.result) + Trace(o));
        }
        int model_counts[kCallKinds] = {};
        for (const TracedCall &t : o.trace) ++model_counts[static_cast<int>(t.call)];
        for (int c = 0; c < kCallKinds; ++c) {
            if (o.count_unknown[c] || counts[c] == model_counts[c]) continue;
            return Fail(index, a, std::string("calls of ") + emu::CallName(static_cast<Call>(c)) + ": " +
                                      std::to_string(counts[c]) + ", model " + std::to_string(model_counts[c]) +
                                      Trace(o));
        }
        bool fired_known = true;
        for (const Fault &f : a.faults) fired_known = fired_known && !o.count_unknown[static_cast<int>(f.call)];
        if (fired_known && fired != o.faults_fired) {
            return Fail(index, a, "faults fired " + std::to_string(fired) + ", model " +
                                      std::to_string(o.faults_fired) + Trace(o));
        }
        if (a.kind == ActionKind::kGetDevice && !CheckName(real, expected_name, &extra)) return Fail(index, a, extra);
        if (a.kind == ActionKind::kSave && !CheckFiles(&extra)) return Fail(index, a, extra);
        if (a.kind == ActionKind::kYuvFrame && !CheckConversion(in, converted, &extra)) return Fail(index, a, extra);
        if (!Observe(&extra)) return Fail(index, a, extra);
        return true;
    }

    static std::string Trace(const Outcome &o) {
        std::string text = "\n    model's calls:";
        for (const TracedCall &t : o.trace) {
            text += std::string(" ") + emu::CallName(t.call);
            if (t.has_target) text += "(" + GuidName(t.target) + ")";
        }
        return text;
    }

    bool CheckName(int result, const ExpectedName &expected, std::string *what) {
        const unsigned char *b = reinterpret_cast<const unsigned char *>(name_buffer_);
        if (result != KOVIC_OK) {
            for (size_t i = 0; i < sizeof(name_buffer_); ++i) {
                if (b[i] != 0xA5) {
                    *what = "the name buffer was written by a failing call";
                    return false;
                }
            }
            return true;
        }
        for (size_t i = KOVIC_DEVICE_NAME_BYTES; i < sizeof(name_buffer_); ++i) {
            if (b[i] != 0xA5) {
                *what = "more than 80 bytes of name written";
                return false;
            }
        }
        const void *end = std::memchr(name_buffer_, 0, KOVIC_DEVICE_NAME_BYTES);
        if (end == nullptr) {
            *what = "a device name without its terminator within 80 bytes";
            return false;
        }
        const std::string got(name_buffer_, static_cast<const char *>(end) - name_buffer_);
        const bool ok = expected.any_prefix ? IsWholeCharacterPrefix(got, expected.text) : got == expected.text;
        if (!ok) *what = "device name \"" + got + "\", model \"" + expected.text + "\"";
        return ok;
    }

    bool CheckFiles(std::string *what) {
        for (const char *name : {"a.bmp", "b.bmp"}) {
            std::vector<uint8_t> real;
            const bool exists = ReadWholeFile(folder_ + "/" + name, &real);
            auto it = model_.files().find(name);
            if (exists != (it != model_.files().end())) {
                *what = std::string(name) + (exists ? " exists, the model has none" : " is missing");
                return false;
            }
            if (exists && real != it->second) {
                *what = std::string(name) + " holds " + std::to_string(real.size()) + " bytes unlike the model's " +
                        std::to_string(it->second.size());
                return false;
            }
        }
        for (const std::string &entry : FolderEntries(folder_)) {
            if (entry != "a.bmp" && entry != "b.bmp" && entry != "folder") {
                *what = "a file left behind: " + entry;
                return false;
            }
        }
        if (!FolderEntries(folder_ + "/folder").empty()) {
            *what = "something written into the folder named as the target";
            return false;
        }
        return true;
    }

    bool CheckConversion(const Inputs &in, const std::vector<uint8_t> &converted, std::string *what) {
        const size_t bytes = I420Bytes(in.yuv_width, in.yuv_height);
        std::vector<uint8_t> expected(bytes);
        ReferenceI420(expected.data(), in.yuv_source.data(), in.yuv_width, in.yuv_height, in.yuv_length);
        for (size_t i = 0; i < 32; ++i) {
            if (converted[i] != 0xC3 || converted[32 + bytes + i] != 0xC3) {
                *what = "the conversion wrote outside its destination";
                return false;
            }
        }
        if (!std::equal(expected.begin(), expected.end(), converted.begin() + 32)) {
            size_t at = 0;
            while (expected[at] == converted[32 + at]) ++at;
            *what = "I420 byte " + std::to_string(at) + " of " + std::to_string(in.yuv_width) + "x" +
                    std::to_string(in.yuv_height) + " is " + std::to_string(converted[32 + at]) + ", expected " +
                    std::to_string(expected[at]);
            return false;
        }
        return true;
    }

    // --- after every action ---

    bool ObserveCall(const char *name, int real, const Outcome &o, std::string *what) {
        ++stats_->export_calls;
        if (real != o.result) {
            *what = std::string(name) + " answers " + Hex(real) + ", model " + Hex(o.result);
            return false;
        }
        int model_counts[kCallKinds] = {};
        for (const TracedCall &t : o.trace) ++model_counts[static_cast<int>(t.call)];
        for (int c = 0; c < kCallKinds; ++c) {
            if (emu::CallCount(static_cast<Call>(c)) != model_counts[c]) {
                *what = std::string(name) + " made " + std::to_string(emu::CallCount(static_cast<Call>(c))) +
                        " calls of " + emu::CallName(static_cast<Call>(c)) + ", model " +
                        std::to_string(model_counts[c]);
                return false;
            }
        }
        return true;
    }

    bool Observe(std::string *what) {
        for (int slot : OpenSlots()) {
            const SessionModel &s = model_.session(slot);
            const intptr_t h = slots_[static_cast<size_t>(slot)].handle;
            const std::string who = "session " + std::to_string(slot) + ": ";
            kovic::CaptureSession *record = kovic::LookUpSession(h);
            if (record == nullptr) {
                *what = who + "the library has no such session";
                return false;
            }
            emu::ResetCallCounts();
            if (!ObserveCall("KOVICIsPreviewing", KOVICIsPreviewing(h), model_.IsPreviewing(h), what)) {
                *what = who + *what;
                return false;
            }
            if ((record->built != 0) != s.built || (record->graph.frame_sink() != nullptr) != s.sink.has_value()) {
                *what = who + "built " + std::to_string(record->built) + " with" +
                        (record->graph.frame_sink() ? "" : "out") + " a sink; model " + (s.built ? "built" : "not built");
                return false;
            }
            if (std::string(record->last_error) != s.last_error) {
                *what = who + "last error \"" + record->last_error + "\", model \"" + s.last_error + "\"";
                return false;
            }
            // The size queries change nothing on a built session or one that
            // selects no device; elsewhere they would build.
            if (s.built || s.selected < 0) {
                emu::ResetCallCounts();
                if (!ObserveCall("KOVICGetWidth", KOVICGetWidth(h), model_.GetWidth(h, nullptr), what)) {
                    *what = who + *what;
                    return false;
                }
                emu::ResetCallCounts();
                if (!ObserveCall("KOVICGetHeight", KOVICGetHeight(h), model_.GetHeight(h, nullptr), what)) {
                    *what = who + *what;
                    return false;
                }
            }
            if (s.sink && !CheckDescriptor(*s.sink, record->graph.frame_sink()->descriptor(), what)) {
                *what = who + *what;
                return false;
            }
        }
        for (size_t w = 0; w < windows_.size(); ++w) {
            if (!CheckMessages(w, what)) return false;
        }
        const int live = emu::LiveObjects() - baseline_;
        if (live != model_.LiveObjects()) {
            *what = "live platform objects " + std::to_string(live) + ", model " + std::to_string(model_.LiveObjects()) +
                    " (COM " + std::to_string(emu::LiveComObjects()) + ", task memory " +
                    std::to_string(emu::LiveTaskMemBlocks()) + ", strings " + std::to_string(emu::LiveStrings()) + ")";
            return false;
        }
        if (emu::DebugOutput() != model_.debug_output()) {
            *what = "debug output \"" + emu::DebugOutput() + "\"";
            return false;
        }
        return true;
    }

    bool CheckDescriptor(const SinkModel &k, const FrameDescriptor *d, std::string *what) {
        auto bound = bound_.find(k.id);
        if (bound == bound_.end()) {
            bound_[k.id] = d;
        } else if (bound->second != d) {
            *what = "the sink's descriptor moved";
            return false;
        }
        std::ostringstream diff;
        if (d->width != k.width || d->height != k.height) {
            diff << "size " << d->width << "x" << d->height << ", model " << k.width << "x" << k.height;
        } else if (d->busy != (k.armed ? 0u : 1u)) {
            diff << "busy " << d->busy << ", model " << (k.armed ? 0 : 1);
        } else if (d->reserved != 0) {
            diff << "reserved word " << d->reserved;
        } else if (d->length != k.length) {
            diff << "length " << d->length << ", model " << k.length;
        } else if (d->sample_time != k.sample_time) {
            diff << "sample time " << d->sample_time << ", model " << k.sample_time;
        } else if ((d->data != nullptr) != k.has_buffer) {
            diff << (d->data ? "a frame buffer the model does not have" : "no frame buffer");
        } else if (k.has_buffer && k.content_known && k.length > 0 && std::memcmp(d->data, k.content.data(), static_cast<size_t>(k.length)) != 0) {
            diff << "frame bytes differ";
        }
        if (k.has_buffer) {
            auto seen = buffers_.find(k.id);
            if (seen != buffers_.end() && seen->second.first == k.buffer_generation && seen->second.second != d->data) {
                diff << "the frame buffer moved without a longer frame";
            }
            buffers_[k.id] = {k.buffer_generation, d->data};
        }
        *what = diff.str();
        if (!what->empty()) *what = "descriptor " + *what;
        return what->empty();
    }

    bool CheckMessages(size_t w, std::string *what) {
        const std::vector<HostMessage> &expected = model_.window(static_cast<int>(w)).received;
        const std::vector<Received> &got = windows_[w]->received;
        const std::string where = "window " + std::to_string(w) + ": ";
        if (got.size() != expected.size()) {
            *what = where + std::to_string(got.size()) + " messages, model " + std::to_string(expected.size());
            return false;
        }
        for (size_t i = checked_messages_[w]; i < got.size(); ++i) {
            const HostMessage &e = expected[i];
            const Received &r = got[i];
            bool same = r.message == e.message && r.lparam == e.lparam;
            if (same && e.message == KOVIC_MSG_STATUS) same = r.text == e.text;
            if (same && e.message == KOVIC_MSG_FRAME) {
                ++stats_->frame_messages;
                auto bound = bound_.find(e.sink);
                same = bound != bound_.end() && r.wparam == reinterpret_cast<WPARAM>(bound->second);
            }
            if (!same) {
                *what = where + "message " + std::to_string(i) + " is " + Hex(r.message) + " \"" + r.text +
                        "\", model " + Hex(e.message) + " \"" + e.text + "\"";
                return false;
            }
        }
        checked_messages_[w] = got.size();
        return true;
    }

    // Closes what is open, then nothing of the platform may be left.
    void Finish(int index) {
        if (!result_.passed) return;
        for (int slot : OpenSlots()) {
            Action close;
            close.kind = ActionKind::kClose;
            close.slot = slot;
            if (!Step(close, index)) return;
        }
        if (emu::LiveObjects() != baseline_) {
            result_.passed = false;
            result_.failed_at = index;
            result_.failure = "after closing every session, " + std::to_string(emu::LiveObjects() - baseline_) +
                              " platform objects are alive";
        }
    }

    Rng rng_;
    WalkStats *stats_;
    std::vector<emu::SimulatedDevice> world_;
    std::vector<bool> streams_;  // which world devices make their own frames
    std::vector<emu::SimulatedDevice> described_;
    Model model_;
    std::vector<std::unique_ptr<RealWindow>> windows_;
    std::map<size_t, size_t> checked_messages_;
    std::vector<Slot> slots_;
    std::map<int, const FrameDescriptor *> bound_;
    std::map<int, std::pair<int, const unsigned char *>> buffers_;
    std::string folder_;
    int baseline_ = 0;
    int not_a_session_ = 0;
    char name_buffer_[96] = {};
    FrameDescriptor synthetic_ = {};
    std::vector<uint8_t> synthetic_bytes_;
    KOVIC_SESSION last_opened_ = 0;
    WalkResult result_;
};

}  // namespace

WalkResult RunWalk(uint64_t seed, int length, WalkStats *stats, World world) {
    ++stats->walks;
    Walk walk(seed, stats, world == World::kMisdescribed);
    return walk.Run(length);
}

WalkResult ReplayWalk(uint64_t seed, const std::vector<Action> &actions, WalkStats *stats, World world) {
    Walk walk(seed, stats, world == World::kMisdescribed);
    return walk.Replay(actions);
}

bool RunAndShrink(uint64_t seed, int length, WalkStats *stats, std::ostream &report, World world) {
    WalkResult first = RunWalk(seed, length, stats, world);
    if (first.passed) return true;
    // The shortest prefix that still fails: the failure itself, or an
    // earlier point from which closing every session already fails.
    std::vector<Action> shortest = first.actions;
    std::string failure = first.failure;
    WalkStats replays;
    for (size_t n = 1; n <= first.actions.size(); ++n) {
        std::vector<Action> prefix(first.actions.begin(), first.actions.begin() + static_cast<long>(n));
        WalkResult again = ReplayWalk(seed, prefix, &replays, world);
        if (!again.passed) {
            shortest = prefix;
            failure = again.failure;
            break;
        }
    }
    report << "walk with seed " << seed << " failed: " << first.failure << "\n"
           << "shortest failing prefix: " << shortest.size() << " actions (scripts/walk --seed " << seed
           << " --length " << shortest.size() << ")\n"
           << "  " << failure << "\n";
    for (size_t i = 0; i < shortest.size(); ++i) report << "  " << i << ": " << shortest[i].Describe() << "\n";
    return false;
}

std::string Action::Describe() const {
    std::ostringstream text;
    text << KindName(kind) << "(";
    const bool session = kind == ActionKind::kClose || kind == ActionKind::kSelect || kind == ActionKind::kSetFormat ||
                         kind == ActionKind::kEnumFormat || kind == ActionKind::kGetWidth ||
                         kind == ActionKind::kGetHeight || kind == ActionKind::kStart || kind == ActionKind::kStop ||
                         kind == ActionKind::kIsPreviewing || kind == ActionKind::kFrameCall ||
                         kind == ActionKind::kSave;
    if (session) {
        if (handle == HandleKind::kNull) text << "null";
        else if (handle == HandleKind::kNotASession) text << "not a session";
        else text << "session " << slot;
    }
    switch (kind) {
        case ActionKind::kGetDevice: text << a << (b ? ", buffer" : ", null buffer"); break;
        case ActionKind::kOpen: text << "window " << a << ") as session " << slot; break;
        case ActionKind::kSelect: text << ", " << a; break;
        case ActionKind::kSetFormat:
        case ActionKind::kEnumFormat: text << ", " << a << ", " << b; break;
        case ActionKind::kSave: {
            static const char *const frames[] = {"its own frame", "session's frame", "a made-up frame", "null frame"};
            text << ", " << (name < 4 ? kFileNames[name] : "null name") << ", " << frames[frame];
            if (frame == 1) text << " " << b;
            break;
        }
        case ActionKind::kDeliver: text << "session " << slot << ", length choice " << a; break;
        case ActionKind::kYuvFrame: text << (slot >= 0 ? "frame of session " + std::to_string(slot) : "made-up frame"); break;
        case ActionKind::kPump: text << "window 2"; break;
        case ActionKind::kReplug:
            for (size_t i = 0; i < devices.size(); ++i) text << (i ? " " : "") << "world " << devices[i];
            break;
        default: break;
    }
    if (kind != ActionKind::kOpen) text << ")";
    for (size_t i = 0; i < faults.size(); ++i) {
        const Fault &f = faults[i];
        text << (i == 0 ? " failing " : " and ") << emu::CallName(f.call);
        if (f.has_target) text << "(" << GuidName(f.target) << ")";
        text << (f.occurrence == 0 ? " every time" : " #" + std::to_string(f.occurrence)) << " with " << Hex(f.result);
    }
    return text.str();
}

}  // namespace walk
