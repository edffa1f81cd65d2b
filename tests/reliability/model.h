// The reference model of what a host can observe of the library on the
// emulated platform: the catalogue, each session's state (Empty, Built,
// Previewing) with its selection, requested and built size, graph and frame
// sink, the host windows' messages, the snapshot files, and for each export
// the result, the platform calls it makes and where an injected failure lands.
// It is the walker's oracle: it shares no code with the library and knows the
// platform only through the emulated host API's device descriptions. A model
// is a plain value: copying it gives an independent dry run. One thread.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kovic.h"
#include "platform/emulated/host_api.h"

namespace walk {

constexpr int kCallKinds = static_cast<int>(emu::Call::Count);

// One failure armed for the length of one action, as emu::FailCall takes it.
struct Fault {
    emu::Call call = emu::Call::Count;
    HRESULT result = E_FAIL;
    int occurrence = 1;  // 0: every matching call
    bool has_target = false;
    GUID target = GUID_NULL;
};
// The failures armed for one action, in the order they were armed.
using Faults = std::vector<Fault>;

// One platform call as it is counted: the call site and its target.
struct TracedCall {
    emu::Call call;
    bool has_target;
    GUID target;
};

// A message a host window has received (dispatched to its procedure).
struct HostMessage {
    UINT message = 0;
    std::string text;  // status texts
    LPARAM lparam = 0;
    int sink = -1;     // frame messages: the sink whose descriptor it points at
};

// What one action is predicted to do, beyond the changes to the model's state.
struct Outcome {
    int result = 0;
    enum class ResultIs { kExact, kNonZero } result_is = ResultIs::kExact;
    std::vector<TracedCall> trace;
    int faults_fired = 0;
    // Calls whose number the model cannot tell (a device name converted after
    // a failure takes as many conversions as the library's recovery needs).
    std::array<bool, kCallKinds> count_unknown{};
};

// A device name as the catalogue should hold it: exact, or (after a failed
// conversion) any prefix of whole characters of the exact text that fits.
struct ExpectedName {
    std::string text;
    bool any_prefix = false;
};

// The frame descriptor a snapshot is taken from, as the host passes it.
struct DescriptorView {
    bool null = false;
    int32_t width = 0;
    int32_t height = 0;
    int32_t length = 0;
    bool data_null = true;
    std::vector<uint8_t> data;  // `length` bytes when data is not null
};

// A session's frame sink: its descriptor as the host would read it.
struct SinkModel {
    int id = -1;          // identity; the walker binds it to the descriptor's address
    bool armed = false;   // busy flag 0
    int32_t width = 0;
    int32_t height = 0;
    bool has_buffer = false;
    int buffer_generation = 0;  // changes whenever the frame buffer is (re)allocated
    int32_t capacity = 0;
    int32_t length = 0;
    double sample_time = 0.0;
    std::vector<uint8_t> content;  // the buffer's bytes (capacity of them)
    bool content_known = true;     // false after a streamed frame whose picture is not known
    // A connected format other than RGB24 that the library reads: each frame
    // is converted into RGB24 of frame_bytes; shorter samples are not taken.
    bool converting = false;
    GUID subtype = GUID_NULL;
    int32_t source_width = 0;
    int32_t source_height = 0;
    uint64_t source_bytes = 0;
    int32_t frame_bytes = 0;
    // MJPG: each frame is decoded into RGB24 of frame_bytes; a frame that
    // does not decode whole is not taken. The decoder is made with the format.
    bool decoding = false;
    bool has_decoder = false;
};

// The filters of one session's graph and the connections between their pins.
// Each side of a connection is held separately, as the platform holds it.
enum FilterId { kSourceFilter, kConverterFilter, kGrabberFilter, kRendererFilter, kFilterKinds };

struct PinRef {
    int filter = -1;
    int pin = -1;
    bool valid() const { return filter >= 0; }
    bool operator==(const PinRef &o) const { return filter == o.filter && pin == o.pin; }
};

struct GraphModel {
    bool has_builder = false;
    bool has_graph = false;
    bool present[kFilterKinds] = {};
    bool in_graph[kFilterKinds] = {};
    std::vector<PIN_DIRECTION> pins[kFilterKinds];
    std::vector<PinRef> peer[kFilterKinds];
    bool running = false;
    bool stream_config = false;
    emu::SimulatedDevice device;    // the device the source was bound from
    bool streams = false;           // it makes its own frames while running
    emu::SimulatedFormat current;   // the source's current format
    emu::SimulatedFormat connected; // the type the grabber's input was connected with
    GUID grabber_subtype = GUID_NULL;  // the subtype the grabber was told to want
};

struct SessionModel {
    bool open = false;
    intptr_t handle = 0;
    int window = -1;  // index into the model's windows; -1: no window
    int32_t selected = 0;
    int32_t requested_width = 0;
    int32_t requested_height = 0;
    int32_t built_device = -1;
    int32_t built_width = 0;
    int32_t built_height = 0;
    bool built = false;
    bool previewing = false;
    std::string last_error;  // the latest diagnostic
    GraphModel graph;
    std::optional<SinkModel> sink;
};

struct WindowModel {
    bool alive = true;
    bool pumped_after_every_action = true;
    size_t capacity = 1024;
    std::vector<HostMessage> queued;
    std::vector<HostMessage> received;
};

class Model {
public:
    // `com_ready`: COM is already initialised on the walking thread.
    // `streams[i]`: registered device i makes its own frames while its graph runs.
    Model(std::vector<emu::SimulatedDevice> registered, std::vector<bool> streams, std::vector<WindowModel> windows,
          bool com_ready);

    // The exports. Session exports take the handle value the host passes.
    Outcome Create(const Faults *faults);
    Outcome Destroy();
    Outcome GetVideoDeviceCount();
    Outcome GetVideoDevice(int index, bool buffer_given, ExpectedName *name);
    // Opens in `slot` (the walker's own numbering); the handle is bound later.
    Outcome Open(int slot, int window, const Faults *faults);
    void BindHandle(int slot, intptr_t handle);
    Outcome Close(intptr_t handle, const Faults *faults);
    Outcome SelectDevice(intptr_t handle, int index);
    Outcome SetVideoFormat(intptr_t handle, int width, int height);
    Outcome EnumVideoFormat(intptr_t handle, int width, int height, const Faults *faults);
    Outcome GetWidth(intptr_t handle, const Faults *faults);
    Outcome GetHeight(intptr_t handle, const Faults *faults);
    Outcome StartPreview(intptr_t handle, const Faults *faults);
    Outcome StopPreview(intptr_t handle, const Faults *faults);
    Outcome IsPreviewing(intptr_t handle);
    Outcome GetFrameCall(intptr_t handle);
    // `file` is the key of the file written (the walker's name for it); null
    // `file_name_given` passes a null name.
    Outcome SaveSingleFrameBitmap(intptr_t handle, bool file_name_given, const std::string &file,
                                  bool folder_exists, bool target_is_folder, const DescriptorView &frame,
                                  const Faults *faults);
    Outcome GetDxVersion();

    // Platform events the walker causes.
    // A sample pushed into the session's source: the result DeliverSample gives.
    Outcome DeliverSample(int slot, int64_t start_100ns, const std::vector<uint8_t> &data, const Faults *faults);
    void Pump(int window);
    void PumpAutomatic();
    void Replug(std::vector<emu::SimulatedDevice> registered, std::vector<bool> streams);
    // Whether the session's sink is owed a frame by its streaming device: the
    // graph runs and the sink is armed.
    bool AwaitsStreamedFrame(int slot) const;
    // The streaming device delivered frame `frame_number` of its run.
    void StreamedFrame(int slot, uint32_t frame_number);
    // The sample time of a streamed frame.
    double StreamedFrameTime(int slot, uint32_t frame_number) const;

    // What the walker reads back.
    int SlotOf(intptr_t handle) const;
    const SessionModel &session(int slot) const { return sessions_.at(static_cast<size_t>(slot)); }
    size_t session_slots() const { return sessions_.size(); }
    const WindowModel &window(int w) const { return windows_.at(static_cast<size_t>(w)); }
    size_t window_count() const { return windows_.size(); }
    const std::vector<ExpectedName> &catalogue() const { return catalogue_; }
    const std::vector<emu::SimulatedDevice> &registered() const { return registered_; }
    const std::map<std::string, std::vector<uint8_t>> &files() const { return files_; }
    const std::string &debug_output() const { return debug_output_; }
    // Platform objects the sessions hold between actions.
    int LiveObjects() const;
    // The conversions of this model cannot predict where a failure of
    // WideCharToMultiByte lands while names too long to convert are listed.
    bool CanPredict(const Fault &fault) const;

    // Frame bytes of a format, as the platform sizes frames.
    static uint32_t FrameBytes(const emu::SimulatedFormat &format);

private:
    // One action's platform calls and the armed faults.
    struct Tracer {
        const Faults *faults = nullptr;
        std::vector<int> seen;
        Outcome *out = nullptr;
        HRESULT Check(emu::Call call, const GUID *target);
    };

    Outcome Begin(const Faults *faults);
    HRESULT Check(emu::Call call, const GUID *target = nullptr) { return tracer_.Check(call, target); }
    SessionModel *Resolve(intptr_t handle);

    // Catalogue.
    void EnumerateDevices();
    // Session and graph.
    int EnsureGraph(SessionModel &s);
    int BuildGraph(SessionModel &s);
    bool QueryGateOpen(SessionModel &s);
    int CreateGraphObjects(SessionModel &s);
    int AddCaptureFilters(SessionModel &s);
    bool BindDeviceFilter(SessionModel &s);
    int ConnectCaptureChain(SessionModel &s);
    void FindStreamConfig(SessionModel &s);
    bool ApplyCaptureFormat(SessionModel &s, const GUID &subtype);
    bool ApplyDeliverableFormat(SessionModel &s);
    HRESULT GetStreamCaps(const GraphModel &g, size_t index);
    HRESULT NewMediaTypeCopy(const emu::SimulatedFormat &format);
    int HasCaptureFormat(SessionModel &s, int width, int height);
    int ReadCurrentFormat(SessionModel &s, bool width);
    PinRef GetPin(GraphModel &g, int filter, PIN_DIRECTION direction, int n);
    HRESULT Connect(GraphModel &g, PinRef out, PinRef in);
    bool ConnectDirect(GraphModel &g, PinRef out, PinRef in, const emu::SimulatedFormat &offered);
    void DisconnectAll(GraphModel &g, int filter);
    void RemoveDownstream(SessionModel &s, int filter);
    void TearDownGraph(SessionModel &s);
    void ReleaseGraph(SessionModel &s);
    int RunPreview(SessionModel &s);
    int StopPreviewGraph(SessionModel &s);
    void NotifyStatus(SessionModel &s, const char *text);
    bool PostFrame(SessionModel &s);
    // A frame reaching the sink through the grabber.
    void BufferCallback(SessionModel &s, int64_t start_100ns, const std::vector<uint8_t> &frame, bool known);
    // The format a streaming source draws in: its connected format, when that
    // has a size.
    static bool StreamFormat(const GraphModel &g, emu::SimulatedFormat *format);

    std::vector<emu::SimulatedDevice> registered_;
    std::vector<bool> streams_;
    std::vector<ExpectedName> catalogue_;
    std::vector<SessionModel> sessions_;
    std::vector<WindowModel> windows_;
    std::map<std::string, std::vector<uint8_t>> files_;
    std::string debug_output_;
    bool com_ready_ = false;
    int next_sink_ = 0;
    int next_buffer_ = 0;
    Tracer tracer_;
};

// The UTF-8 form of a wide text, as the emulated ANSI code page gives it.
std::string AnsiOf(const std::wstring &text);
// Whether `got` is a prefix of `full` that ends between whole characters and
// fits a device name buffer with its terminator.
bool IsWholeCharacterPrefix(const std::string &got, const std::string &full);

}  // namespace walk
