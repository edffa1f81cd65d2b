// The reference model's rules: each export as a host should see it, walked step
// by step with every platform call counted and checked against the armed
// fault, and the emulated platform's answers to those calls (device lists,
// formats, pin connections, files, windows) worked out from the device
// descriptions. One thread; no state outside the Model value.
#include "model.h"
#include "reference_jpeg.h"
#include "reference_rgb24.h"

#include "reference_bitmap.h"
#include "streaming.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace walk {
namespace {

using emu::Call;

constexpr int32_t kSizeFieldsEnd = 60;  // a format block holds the bitmap size within its first 60 bytes
constexpr LPARAM kStatusBufferBytes = 1024;
constexpr int kNameBytes = KOVIC_DEVICE_NAME_BYTES;

// A call that did its work answers with an injected partial success in place
// of a plain S_OK, as the platform does.
HRESULT Completed(HRESULT injected, HRESULT natural) {
    return (natural == S_OK && SUCCEEDED(injected)) ? injected : natural;
}

int32_t Magnitude(int32_t v) { return v < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v; }

// A FORMAT_VideoInfo2 block holds it within its first 84.
bool HasSize(const emu::SimulatedFormat &f) {
    const uint32_t end = IsEqualGUID(f.format_type, FORMAT_VideoInfo2) ? 84u : static_cast<uint32_t>(kSizeFieldsEnd);
    return f.format_bytes >= end;
}

bool IsMjpg(const GUID &subtype) { return IsEqualGUID(subtype, MEDIASUBTYPE_MJPG) != 0; }

// Formats whose frames reach the host: those the library reads (RGB24 as it
// is, MJPG decoded, the others converted).
bool Deliverable(const GUID &subtype) { return LayoutOfSubtype(subtype) != SourceLayout::kNone || IsMjpg(subtype); }

// The time between frames a capability tells (its AvgTimePerFrame, else the
// capability block's MinFrameInterval); INT64_MAX for none.
int64_t FrameInterval(const emu::SimulatedFormat &f, const emu::SimulatedDevice &d) {
    const double fps = f.frames_per_second > 0 ? f.frames_per_second : d.frames_per_second;
    if (!(fps > 0) || (f.format_bytes < 48 && d.stream_caps_bytes < 112)) return INT64_MAX;
    const int64_t interval = static_cast<int64_t>(10000000.0 / fps);
    return interval > 0 ? interval : INT64_MAX;
}

bool HasCapturePin(const emu::SimulatedDevice &d) {
    return std::find(d.output_pins.begin(), d.output_pins.end(), emu::SourcePin::kCapture) != d.output_pins.end();
}

// The converter's output: bottom-up RGB24 of the input's size.
emu::SimulatedFormat Rgb24Of(const emu::SimulatedFormat &input) {
    return emu::SimulatedFormat{MEDIASUBTYPE_RGB24, input.width, Magnitude(input.height)};
}

void AppendUtf8(std::string &out, uint32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The longest run of whole characters whose ANSI form fits the name buffer
// with its terminator.
std::string LongestFittingPrefix(const std::wstring &text) {
    std::string out;
    for (wchar_t w : text) {
        std::string one;
        AppendUtf8(one, static_cast<uint32_t>(w));
        if (out.size() + one.size() > static_cast<size_t>(kNameBytes - 1)) break;
        out += one;
    }
    return out;
}

}  // namespace

std::string AnsiOf(const std::wstring &text) {
    std::string out;
    for (wchar_t w : text) AppendUtf8(out, static_cast<uint32_t>(w));
    return out;
}

bool IsWholeCharacterPrefix(const std::string &got, const std::string &full) {
    if (got.size() > static_cast<size_t>(kNameBytes - 1) || got.size() > full.size()) return false;
    if (full.compare(0, got.size(), got) != 0) return false;
    return got.size() == full.size() || (static_cast<uint8_t>(full[got.size()]) & 0xC0) != 0x80;
}

// --- the tracer ---

// As the platform checks its faults: in the order they were armed, each
// counting the calls it concerns, and the first that fires decides (those
// after it do not see the call).
HRESULT Model::Tracer::Check(Call call, const GUID *target) {
    out->trace.push_back({call, target != nullptr, target != nullptr ? *target : GUID_NULL});
    if (faults == nullptr) return S_OK;
    for (size_t i = 0; i < faults->size(); ++i) {
        const Fault &f = (*faults)[i];
        if (f.call != call) continue;
        if (f.has_target && (target == nullptr || !IsEqualGUID(*target, f.target))) continue;
        ++seen[i];
        if (f.occurrence == 0 || seen[i] == f.occurrence) {
            ++out->faults_fired;
            return f.result;
        }
    }
    return S_OK;
}

Model::Model(std::vector<emu::SimulatedDevice> registered, std::vector<bool> streams, std::vector<WindowModel> windows,
             bool com_ready)
    : registered_(std::move(registered)), streams_(std::move(streams)), windows_(std::move(windows)),
      com_ready_(com_ready) {}

Outcome Model::Begin(const Faults *faults) {
    tracer_ = Tracer();
    tracer_.faults = faults;
    if (faults != nullptr) tracer_.seen.assign(faults->size(), 0);
    return Outcome();
}

#define BEGIN(faults)        \
    Outcome out = Begin(faults); \
    tracer_.out = &out

SessionModel *Model::Resolve(intptr_t handle) {
    int slot = SlotOf(handle);
    return slot < 0 ? nullptr : &sessions_[static_cast<size_t>(slot)];
}

int Model::SlotOf(intptr_t handle) const {
    if (handle == 0) return -1;
    for (size_t i = 0; i < sessions_.size(); ++i) {
        if (sessions_[i].open && sessions_[i].handle == handle) return static_cast<int>(i);
    }
    return -1;
}

uint32_t Model::FrameBytes(const emu::SimulatedFormat &format) { return emu::FrameBytes(format); }

int Model::LiveObjects() const {
    int n = 0;
    for (const SessionModel &s : sessions_) {
        if (!s.open) continue;
        // A frame sink holds the library's module.
        if (s.sink) ++n;
        if (!s.built) continue;
        // builder, graph, source, grabber, renderer, and a converter the graph placed
        n += 5 + (s.graph.in_graph[kConverterFilter] ? 1 : 0);
    }
    return n;
}

bool Model::CanPredict(const Fault &fault) const {
    // A temporary file that cannot be removed after a failed save stays; the
    // walk's folder checks do not follow such leftovers.
    if (fault.call == Call::DeleteFile) return false;
    if (fault.call != Call::WideCharToMultiByte) return true;
    if (fault.occurrence == 0) return false;
    for (const emu::SimulatedDevice &d : registered_) {
        if (AnsiOf(d.friendly_name).size() + 1 > static_cast<size_t>(kNameBytes)) return false;
    }
    return true;
}

// --- catalogue ---

Outcome Model::Create(const Faults *faults) {
    BEGIN(faults);
    if (!FAILED(Check(Call::CoInitialize))) com_ready_ = true;
    catalogue_.clear();
    EnumerateDevices();
    out.result = KOVIC_OK;
    return out;
}

void Model::EnumerateDevices() {
    HRESULT hr = Check(Call::CoCreateInstance, &CLSID_SystemDeviceEnum);
    if (!FAILED(hr)) hr = Completed(hr, com_ready_ ? S_OK : CO_E_NOTINITIALIZED);
    if (hr != S_OK) return;  // exact success only
    hr = Check(Call::CreateClassEnumerator);
    if (!FAILED(hr)) hr = Completed(hr, registered_.empty() ? S_FALSE : S_OK);
    if (hr != S_OK) return;  // S_FALSE: an empty category
    const std::vector<emu::SimulatedDevice> snapshot = registered_;
    for (size_t position = 0;; ++position) {
        hr = Check(Call::EnumMonikerNext);
        if (!FAILED(hr)) hr = Completed(hr, position < snapshot.size() ? S_OK : S_FALSE);
        if (hr != S_OK) return;
        const emu::SimulatedDevice &d = snapshot[position];
        hr = Check(Call::BindToStorage);
        if (!FAILED(hr)) hr = Completed(hr, d.property_bag_fails ? HRESULT_FROM_WIN32_FILE_NOT_FOUND : S_OK);
        if (FAILED(hr)) continue;  // no record for this device
        if (FAILED(Check(Call::LibraryAlloc))) continue;

        ExpectedName name;  // empty unless the friendly name converts
        hr = Check(Call::PropertyBagRead);
        if (!FAILED(hr)) hr = Completed(hr, d.name_unreadable ? E_INVALIDARG : S_OK);
        if (hr == S_OK) {
            const std::string full = AnsiOf(d.friendly_name);
            if (FAILED(Check(Call::WideCharToMultiByte))) {
                // The conversion failed: whatever the recovery makes of it is
                // a name cut short between characters, or no name.
                name.text = full;
                name.any_prefix = true;
                tracer_.out->count_unknown[static_cast<int>(Call::WideCharToMultiByte)] = true;
            } else if (full.size() + 1 <= static_cast<size_t>(kNameBytes)) {
                name.text = full;
            } else {
                name.text = LongestFittingPrefix(d.friendly_name);
                tracer_.out->count_unknown[static_cast<int>(Call::WideCharToMultiByte)] = true;
            }
        }
        hr = Check(Call::PropertyBagRead);
        if (!FAILED(hr)) hr = Completed(hr, d.clsid_unreadable ? E_INVALIDARG : S_OK);
        if (hr == S_OK) Check(Call::CLSIDFromString);
        catalogue_.push_back(name);
    }
}

Outcome Model::Destroy() {
    BEGIN(nullptr);
    out.result = KOVIC_OK;
    return out;
}

Outcome Model::GetVideoDeviceCount() {
    BEGIN(nullptr);
    out.result = static_cast<int>(catalogue_.size());
    return out;
}

Outcome Model::GetVideoDevice(int index, bool buffer_given, ExpectedName *name) {
    BEGIN(nullptr);
    if (index >= static_cast<int>(catalogue_.size())) {
        out.result = KOVIC_E_DEVICE_INDEX;
    } else if (index < 0) {
        out.result = KOVIC_E_NO_DEVICE_RECORD;
    } else if (!buffer_given) {
        out.result = 0;
    } else {
        out.result = KOVIC_OK;
        *name = catalogue_[static_cast<size_t>(index)];
    }
    return out;
}

void Model::Replug(std::vector<emu::SimulatedDevice> registered, std::vector<bool> streams) {
    registered_ = std::move(registered);
    streams_ = std::move(streams);
}

// --- sessions ---

Outcome Model::Open(int slot, int window, const Faults *faults) {
    BEGIN(faults);
    if (sessions_.size() <= static_cast<size_t>(slot)) sessions_.resize(static_cast<size_t>(slot) + 1);
    if (FAILED(Check(Call::LibraryAlloc))) {
        out.result = 0;
        return out;
    }
    SessionModel s;
    s.open = true;
    s.window = window;
    sessions_[static_cast<size_t>(slot)] = s;
    out.result_is = Outcome::ResultIs::kNonZero;
    out.result = 1;
    return out;
}

void Model::BindHandle(int slot, intptr_t handle) { sessions_.at(static_cast<size_t>(slot)).handle = handle; }

Outcome Model::Close(intptr_t handle, const Faults *faults) {
    BEGIN(faults);
    SessionModel *s = Resolve(handle);
    if (s == nullptr) {
        out.result = KOVIC_E_NULL_HANDLE;
        return out;
    }
    if (s->built) {
        if (s->previewing) StopPreviewGraph(*s);
        TearDownGraph(*s);
    }
    ReleaseGraph(*s);
    s->open = false;
    out.result = KOVIC_OK;
    return out;
}

Outcome Model::SelectDevice(intptr_t handle, int index) {
    BEGIN(nullptr);
    SessionModel *s = Resolve(handle);
    if (s == nullptr) {
        out.result = KOVIC_E_NULL_HANDLE;
        return out;
    }
    int k = index >= 0 ? index : 0;
    if (static_cast<int>(catalogue_.size()) > k) {
        s->selected = index;
        out.result = KOVIC_OK;
    } else {
        out.result = KOVIC_E_DEVICE_INDEX;
    }
    return out;
}

Outcome Model::SetVideoFormat(intptr_t handle, int width, int height) {
    BEGIN(nullptr);
    SessionModel *s = Resolve(handle);
    if (s == nullptr) {
        out.result = KOVIC_E_NULL_HANDLE;
        return out;
    }
    s->requested_width = width;
    s->requested_height = height;
    out.result = KOVIC_OK;
    return out;
}

Outcome Model::EnumVideoFormat(intptr_t handle, int width, int height, const Faults *faults) {
    BEGIN(faults);
    SessionModel *s = Resolve(handle);
    out.result = (s != nullptr && QueryGateOpen(*s)) ? HasCaptureFormat(*s, width, height) : 0;
    return out;
}

Outcome Model::GetWidth(intptr_t handle, const Faults *faults) {
    BEGIN(faults);
    SessionModel *s = Resolve(handle);
    out.result = (s != nullptr && QueryGateOpen(*s)) ? ReadCurrentFormat(*s, true) : 0;
    return out;
}

Outcome Model::GetHeight(intptr_t handle, const Faults *faults) {
    BEGIN(faults);
    SessionModel *s = Resolve(handle);
    out.result = (s != nullptr && QueryGateOpen(*s)) ? ReadCurrentFormat(*s, false) : 0;
    return out;
}

Outcome Model::StartPreview(intptr_t handle, const Faults *faults) {
    BEGIN(faults);
    SessionModel *s = Resolve(handle);
    if (s == nullptr) {
        out.result = KOVIC_E_NULL_HANDLE;
        return out;
    }
    int r = EnsureGraph(*s);
    out.result = r == KOVIC_OK ? RunPreview(*s) : r;
    return out;
}

Outcome Model::StopPreview(intptr_t handle, const Faults *faults) {
    BEGIN(faults);
    SessionModel *s = Resolve(handle);
    out.result = s == nullptr ? KOVIC_E_NULL_HANDLE : StopPreviewGraph(*s);
    return out;
}

Outcome Model::IsPreviewing(intptr_t handle) {
    BEGIN(nullptr);
    SessionModel *s = Resolve(handle);
    out.result = s == nullptr ? KOVIC_E_NULL_HANDLE : (s->previewing ? 1 : 0);
    return out;
}

Outcome Model::GetFrameCall(intptr_t handle) {
    BEGIN(nullptr);
    SessionModel *s = Resolve(handle);
    if (s == nullptr) {
        out.result = KOVIC_E_NULL_HANDLE;
    } else if (!s->sink) {
        out.result = KOVIC_E_NO_FRAME_SINK;
    } else {
        s->sink->armed = true;
        out.result = KOVIC_OK;
    }
    return out;
}

Outcome Model::GetDxVersion() {
    BEGIN(nullptr);
    // No DirectX library exists on this platform: the first test fails.
    debug_output_ += "Couldn't LoadLibrary DDraw\r\n";
    out.result = 0;
    return out;
}

// --- the build rule ---

int Model::EnsureGraph(SessionModel &s) {
    if (s.previewing) return KOVIC_E_PREVIEWING;
    return BuildGraph(s);
}

bool Model::QueryGateOpen(SessionModel &s) {
    if (s.selected < 0) return false;
    if (!s.built && EnsureGraph(s) != KOVIC_OK) return false;
    return true;
}

int Model::BuildGraph(SessionModel &s) {
    if (s.built) {
        if (s.selected == s.built_device && s.requested_width == s.built_width &&
            s.requested_height == s.built_height) {
            return KOVIC_OK;
        }
        TearDownGraph(s);
        ReleaseGraph(s);
    }
    int r = CreateGraphObjects(s);
    if (r != KOVIC_OK) {
        ReleaseGraph(s);
        return r;
    }
    r = AddCaptureFilters(s);
    if (r != KOVIC_OK) {
        ReleaseGraph(s);
        return r;
    }
    r = ConnectCaptureChain(s);
    if (r != KOVIC_OK) {
        TearDownGraph(s);
        ReleaseGraph(s);
        return r;
    }
    s.built_device = s.selected;
    s.built_width = s.requested_width;
    s.built_height = s.requested_height;
    s.built = true;
    return KOVIC_OK;
}

int Model::CreateGraphObjects(SessionModel &s) {
    GraphModel &g = s.graph;
    HRESULT hr = Check(Call::CoCreateInstance, &CLSID_CaptureGraphBuilder2);
    if (!FAILED(hr)) hr = Completed(hr, com_ready_ ? S_OK : CO_E_NOTINITIALIZED);
    if (hr != S_OK) {
        s.last_error = "Cannot create CaptureGraphBuilder";
        return KOVIC_E_CREATE_GRAPH_BUILDER;
    }
    g.has_builder = true;
    hr = Check(Call::CoCreateInstance, &CLSID_FilterGraph);
    if (!FAILED(hr)) hr = Completed(hr, S_OK);
    if (hr != S_OK) {
        s.last_error = "Cannot create FilterGraph";
        g.has_builder = false;
        return KOVIC_E_CREATE_FILTER_GRAPH;
    }
    g.has_graph = true;
    if (FAILED(Check(Call::SetFiltergraph))) {
        s.last_error = "Cannot give graph to builder";
        g.has_builder = false;
        g.has_graph = false;
        return KOVIC_E_SET_FILTER_GRAPH;
    }
    return KOVIC_OK;
}

int Model::AddCaptureFilters(SessionModel &s) {
    GraphModel &g = s.graph;
    if (!BindDeviceFilter(s)) return KOVIC_E_DEVICE_NOT_FOUND;
    if (FAILED(Check(Call::CoCreateInstance, &CLSID_SampleGrabber))) return KOVIC_E_CREATE_SAMPLE_GRABBER;
    g.present[kGrabberFilter] = true;
    g.pins[kGrabberFilter] = {PINDIR_INPUT, PINDIR_OUTPUT};
    if (FAILED(Check(Call::CoCreateInstance, &CLSID_NullRenderer))) return KOVIC_E_CREATE_NULL_RENDERER;
    g.present[kRendererFilter] = true;
    g.pins[kRendererFilter] = {PINDIR_INPUT};
    for (int f : {kGrabberFilter, kRendererFilter}) g.peer[f].assign(g.pins[f].size(), PinRef());
    // A source that could not be bound is refused before the graph counts the call.
    if (!g.present[kSourceFilter]) return KOVIC_E_ADD_DEVICE_SOURCE;
    if (FAILED(Check(Call::AddFilter))) return KOVIC_E_ADD_DEVICE_SOURCE;
    g.in_graph[kSourceFilter] = true;
    if (FAILED(Check(Call::AddFilter))) return KOVIC_E_ADD_SAMPLE_GRABBER;
    g.in_graph[kGrabberFilter] = true;
    if (FAILED(Check(Call::AddFilter))) return KOVIC_E_ADD_NULL_RENDERER;
    g.in_graph[kRendererFilter] = true;
    return KOVIC_OK;
}

bool Model::BindDeviceFilter(SessionModel &s) {
    HRESULT hr = Check(Call::CoCreateInstance, &CLSID_SystemDeviceEnum);
    if (FAILED(hr)) return false;
    hr = Check(Call::CreateClassEnumerator);
    if (!FAILED(hr)) hr = Completed(hr, registered_.empty() ? S_FALSE : S_OK);
    if (hr != S_OK) return false;
    const std::vector<emu::SimulatedDevice> snapshot = registered_;
    for (size_t position = 0;; ++position) {
        hr = Check(Call::EnumMonikerNext);
        if (!FAILED(hr)) hr = Completed(hr, position < snapshot.size() ? S_OK : S_FALSE);
        if (hr != S_OK) return false;
        if (static_cast<int64_t>(position) != s.selected) continue;
        // The bind's own result is not looked at: a failed bind leaves no source.
        const emu::SimulatedDevice &d = snapshot[position];
        if (!FAILED(Check(Call::BindToObject)) && !d.bind_fails) {
            GraphModel &g = s.graph;
            g.present[kSourceFilter] = true;
            g.device = d;
            g.streams = position < streams_.size() && streams_[position];
            g.current = d.current_format;
            g.pins[kSourceFilter].assign(d.output_pins.size(), PINDIR_OUTPUT);
            g.peer[kSourceFilter].assign(d.output_pins.size(), PinRef());
        }
        return true;
    }
}

int Model::ConnectCaptureChain(SessionModel &s) {
    GraphModel &g = s.graph;
    FindStreamConfig(s);
    PinRef source_out = GetPin(g, kSourceFilter, PINDIR_OUTPUT, 0);
    if (!source_out.valid()) return KOVIC_E_SOURCE_NO_OUTPUT_PIN;
    PinRef grabber_in = GetPin(g, kGrabberFilter, PINDIR_INPUT, 0);
    if (!grabber_in.valid()) return KOVIC_E_GRABBER_NO_INPUT_PIN;
    if (FAILED(Check(Call::QueryInterface, &IID_ISampleGrabber))) return KOVIC_E_GRABBER_INTERFACE;
    // The grabber wants the device's current subtype when the library reads
    // it, RGB24 otherwise (and when the current format cannot be had).
    GUID wanted = MEDIASUBTYPE_RGB24;
    if (g.stream_config) {
        HRESULT hr = Check(Call::GetFormat);
        if (!FAILED(hr)) hr = Completed(hr, NewMediaTypeCopy(g.current));
        if (hr == S_OK && Deliverable(g.current.subtype)) wanted = g.current.subtype;
    }
    if (FAILED(Check(Call::GrabberSetMediaType))) return KOVIC_E_GRABBER_MEDIA_TYPE;
    g.grabber_subtype = wanted;
    HRESULT hr = Check(Call::GraphConnect);
    if (!FAILED(hr)) hr = Completed(hr, Connect(g, source_out, grabber_in));
    if (FAILED(hr)) return KOVIC_E_CONNECT_SOURCE_GRABBER;

    if (FAILED(Check(Call::GrabberSetOneShot))) return KOVIC_E_GRABBER_ONE_SHOT;
    if (FAILED(Check(Call::GrabberSetBufferSamples))) return KOVIC_E_GRABBER_BUFFERING;
    if (!s.sink) {
        if (FAILED(Check(Call::LibraryAlloc))) return KOVIC_E_REGISTER_SINK;
        // The sink keeps the library's module loaded; without that hold there is no sink.
        if (FAILED(Check(Call::HoldLibraryModule))) return KOVIC_E_REGISTER_SINK;
        SinkModel sink;
        sink.id = next_sink_++;
        s.sink = sink;
    }
    if (FAILED(Check(Call::GrabberSetCallback))) return KOVIC_E_REGISTER_SINK;
    auto connected_type = [&]() {
        HRESULT result = Check(Call::GrabberGetConnectedMediaType);
        if (!FAILED(result)) {
            HRESULT natural = VFW_E_NOT_CONNECTED;
            if (g.peer[kGrabberFilter][0].valid()) {
                natural = S_OK;
                if (g.connected.format_bytes > 0 && FAILED(Check(Call::CoTaskMemAlloc))) natural = E_OUTOFMEMORY;
            }
            result = Completed(result, natural);
        }
        return !FAILED(result);
    };
    // The input's type, for the renderer's connection in exactly that type.
    if (!connected_type()) return KOVIC_E_CONNECTED_MEDIA_TYPE;
    PinRef grabber_out = GetPin(g, kGrabberFilter, PINDIR_OUTPUT, 0);
    if (!grabber_out.valid()) return KOVIC_E_GRABBER_NO_OUTPUT_PIN;
    PinRef renderer_in = GetPin(g, kRendererFilter, PINDIR_INPUT, 0);
    if (!renderer_in.valid()) return KOVIC_E_RENDERER_NO_INPUT_PIN;
    hr = Check(Call::GraphConnectDirect);
    if (!FAILED(hr)) {
        // Both pins are fresh and in the stopped graph, the grabber's input is
        // connected, and the type is the one the output passes on.
        g.peer[kGrabberFilter][static_cast<size_t>(grabber_out.pin)] = renderer_in;
        g.peer[kRendererFilter][static_cast<size_t>(renderer_in.pin)] = grabber_out;
    }
    if (FAILED(hr)) return KOVIC_E_CONNECT_GRABBER_RENDERER;
    // The frame format, once the whole chain is connected.
    if (!connected_type()) return KOVIC_E_CONNECTED_MEDIA_TYPE;
    SinkModel &k = *s.sink;
    // A block too short for the size fields gives no size.
    const int32_t width = HasSize(g.connected) ? g.connected.width : 0;
    const int32_t height = HasSize(g.connected) ? g.connected.height : 0;
    const SourceLayout layout = LayoutOfSubtype(g.connected.subtype);
    k.width = width;
    k.height = height;
    k.converting = layout != SourceLayout::kNone && layout != SourceLayout::kRgb24;
    k.decoding = IsMjpg(g.connected.subtype);
    k.subtype = g.connected.subtype;
    k.source_width = width;
    k.source_height = height;
    k.source_bytes = 0;
    k.frame_bytes = 0;
    if (k.decoding) {
        // The decoder, made once per sink: its state, then the object.
        if (!k.has_decoder) {
            if (FAILED(Check(Call::LibraryAlloc)) || FAILED(Check(Call::LibraryAlloc))) return KOVIC_E_REGISTER_SINK;
            k.has_decoder = true;
        }
        const int64_t rows = height == INT32_MIN ? 0 : (height < 0 ? -static_cast<int64_t>(height) : height);
        k.height = static_cast<int32_t>(rows);
        const uint64_t frame = width > 0 ? ((static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t{3}) * rows : 0;
        if (frame > 0 && frame <= INT32_MAX) k.frame_bytes = static_cast<int32_t>(frame);
    } else if (k.converting) {
        // Converted frames are bottom-up: a positive height.
        const int64_t rows = height == INT32_MIN ? 0 : (height < 0 ? -static_cast<int64_t>(height) : height);
        k.height = static_cast<int32_t>(rows);
        const uint64_t source = SourceBytes(layout, width, static_cast<int32_t>(rows) == 0 ? 0 : height);
        const uint64_t frame = width > 0 ? ((static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t{3}) * rows : 0;
        if (source > 0 && source <= INT32_MAX && frame > 0 && frame <= INT32_MAX) {
            k.source_bytes = source;
            k.frame_bytes = static_cast<int32_t>(frame);
        }
    }
    return KOVIC_OK;
}

// --- format negotiation ---

void Model::FindStreamConfig(SessionModel &s) {
    GraphModel &g = s.graph;
    if (!g.present[kSourceFilter]) return;
    HRESULT hr = S_OK;
    auto request = [&](const GUID &type, bool answers) {
        hr = Check(Call::FindInterface, &type);
        const bool found = answers && HasCapturePin(g.device) && g.device.pins_report_category &&
                           g.device.has_stream_config;
        if (!FAILED(hr)) hr = Completed(hr, found ? S_OK : E_NOINTERFACE);
        return hr == S_OK;  // exact success only
    };
    g.stream_config = request(MEDIATYPE_Interleaved, g.device.stream_config_for_interleaved) ||
                      request(MEDIATYPE_Video, g.device.stream_config_for_video);
    if (!g.stream_config) {
        // Neither lookup: the source's first output pin is asked directly.
        PinRef pin = GetPin(g, kSourceFilter, PINDIR_OUTPUT, 0);
        if (pin.valid()) {
            HRESULT q = Check(Call::QueryInterface, &IID_IAMStreamConfig);
            g.stream_config = !FAILED(q) && g.device.has_stream_config;
        }
    }
    if (!g.stream_config) {
        char text[80];
        std::snprintf(text, sizeof(text), "Error %x: Cannot find VCapture:IAMStreamConfig", static_cast<unsigned>(hr));
        s.last_error = text;
        return;
    }
    if (s.requested_width > 0 && s.requested_height > 0) {
        if (!ApplyCaptureFormat(s, MEDIASUBTYPE_RGB24) && !ApplyCaptureFormat(s, MEDIASUBTYPE_I420)) {
            ApplyDeliverableFormat(s);
        }
    }
}

HRESULT Model::NewMediaTypeCopy(const emu::SimulatedFormat &format) {
    if (FAILED(Check(Call::CoTaskMemAlloc))) return E_OUTOFMEMORY;  // the record
    if (format.format_bytes > 0 && FAILED(Check(Call::CoTaskMemAlloc))) return E_OUTOFMEMORY;  // its block
    return S_OK;
}

HRESULT Model::GetStreamCaps(const GraphModel &g, size_t index) {
    HRESULT hr = Check(Call::GetStreamCaps);
    if (FAILED(hr)) return hr;
    return Completed(hr, NewMediaTypeCopy(g.device.capabilities[index]));
}

bool Model::ApplyCaptureFormat(SessionModel &s, const GUID &subtype) {
    GraphModel &g = s.graph;
    if (FAILED(Check(Call::GetNumberOfCapabilities))) return false;
    for (size_t i = 0; i < g.device.capabilities.size(); ++i) {
        if (FAILED(GetStreamCaps(g, i))) continue;
        const emu::SimulatedFormat &cap = g.device.capabilities[i];
        if (HasSize(cap) && cap.width == s.requested_width && Magnitude(cap.height) == s.requested_height &&
            IsEqualGUID(cap.subtype, subtype)) {
            // The result of setting the format is not looked at; the device
            // takes any of its own capabilities while nothing is connected.
            if (!FAILED(Check(Call::SetFormat)) && !g.device.set_format_ignored) g.current = cap;
            return true;
        }
    }
    return false;
}

// Every capability of the requested size is looked at; the deliverable one
// with the shortest frame interval wins, at equal intervals one that is not
// compressed, and otherwise the first.
bool Model::ApplyDeliverableFormat(SessionModel &s) {
    GraphModel &g = s.graph;
    if (FAILED(Check(Call::GetNumberOfCapabilities))) return false;
    int best = -1;
    for (size_t i = 0; i < g.device.capabilities.size(); ++i) {
        if (FAILED(GetStreamCaps(g, i))) continue;
        const emu::SimulatedFormat &cap = g.device.capabilities[i];
        if (!HasSize(cap) || cap.width != s.requested_width || Magnitude(cap.height) != s.requested_height ||
            !Deliverable(cap.subtype)) {
            continue;
        }
        if (best < 0) {
            best = static_cast<int>(i);
            continue;
        }
        const emu::SimulatedFormat &held = g.device.capabilities[static_cast<size_t>(best)];
        const int64_t a = FrameInterval(cap, g.device), b = FrameInterval(held, g.device);
        const bool compressed = IsMjpg(cap.subtype);
        const bool held_compressed = IsMjpg(held.subtype);
        if (a < b || (a == b && !compressed && held_compressed)) best = static_cast<int>(i);
    }
    if (best < 0) return false;
    if (!FAILED(Check(Call::SetFormat)) && !g.device.set_format_ignored) {
        g.current = g.device.capabilities[static_cast<size_t>(best)];
    }
    return true;
}

int Model::HasCaptureFormat(SessionModel &s, int width, int height) {
    GraphModel &g = s.graph;
    if (!g.present[kSourceFilter] || !g.stream_config) return 0;
    if (FAILED(Check(Call::GetNumberOfCapabilities))) return 0;
    for (size_t i = 0; i < g.device.capabilities.size(); ++i) {
        if (FAILED(GetStreamCaps(g, i))) continue;
        const emu::SimulatedFormat &cap = g.device.capabilities[i];
        if (HasSize(cap) && cap.width == width && Magnitude(cap.height) == height && Deliverable(cap.subtype)) return 1;
    }
    return 0;
}

int Model::ReadCurrentFormat(SessionModel &s, bool width) {
    GraphModel &g = s.graph;
    if (!g.present[kSourceFilter] || !g.stream_config) return 0;
    HRESULT hr = Check(Call::GetFormat);
    if (!FAILED(hr)) hr = Completed(hr, NewMediaTypeCopy(g.current));
    if (hr != S_OK) return 0;
    const bool video_info = IsEqualGUID(g.current.format_type, FORMAT_VideoInfo) ||
                            IsEqualGUID(g.current.format_type, FORMAT_VideoInfo2);
    if (!video_info || !HasSize(g.current)) {
        return 0;
    }
    return width ? g.current.width : Magnitude(g.current.height);
}

// --- pins and connections ---

PinRef Model::GetPin(GraphModel &g, int filter, PIN_DIRECTION direction, int n) {
    HRESULT hr = Check(Call::EnumPins);
    if (FAILED(hr)) return PinRef();
    for (size_t i = 0;; ++i) {
        hr = Check(Call::EnumPinsNext);
        if (!FAILED(hr)) hr = Completed(hr, i < g.pins[filter].size() ? S_OK : S_FALSE);
        if (hr != S_OK) return PinRef();
        // A pin whose direction cannot be read matches nothing.
        bool known = !FAILED(Check(Call::QueryDirection));
        if (known && g.pins[filter][i] == direction) {
            if (n == 0) return PinRef{filter, static_cast<int>(i)};
            --n;
        }
    }
}

bool Model::ConnectDirect(GraphModel &g, PinRef out, PinRef in, const emu::SimulatedFormat &offered) {
    // Whether the output pin will connect to that input at all.
    if (out.filter == kSourceFilter) {
        switch (g.device.connect_route) {
            case emu::ConnectRoute::kDirect:
                break;
            case emu::ConnectRoute::kThroughConverter:
                if (in.filter != kConverterFilter) return false;
                break;
            case emu::ConnectRoute::kRefused:
                return false;
        }
    }
    // Whether the input takes the type (every device gives video): the
    // converter wants a usable size; the grabber its wanted subtype; the renderer takes any.
    if (in.filter == kConverterFilter) {
        if (!HasSize(offered) || offered.width <= 0 || offered.height == 0 || offered.height == INT32_MIN) {
            return false;
        }
    }
    if (in.filter == kGrabberFilter && !IsEqualGUID(g.grabber_subtype, GUID_NULL) &&
        !IsEqualGUID(g.grabber_subtype, offered.subtype)) {
        return false;
    }
    g.peer[out.filter][static_cast<size_t>(out.pin)] = in;
    g.peer[in.filter][static_cast<size_t>(in.pin)] = out;
    if (in.filter == kGrabberFilter) g.connected = offered;
    return true;
}

HRESULT Model::Connect(GraphModel &g, PinRef out, PinRef in) {
    if (!g.in_graph[out.filter] || !g.in_graph[in.filter]) return VFW_E_NOT_IN_GRAPH;
    if (g.running) return VFW_E_NOT_STOPPED;
    if (g.peer[out.filter][static_cast<size_t>(out.pin)].valid() || g.peer[in.filter][static_cast<size_t>(in.pin)].valid()) {
        return VFW_E_CANNOT_CONNECT;
    }
    // What the output pin offers.
    emu::SimulatedFormat offered;
    if (out.filter == kSourceFilter) {
        offered = g.current;
    } else if (out.filter == kGrabberFilter) {
        if (!g.peer[kGrabberFilter][0].valid()) return VFW_E_NOT_CONNECTED;
        offered = g.connected;
    } else {
        return VFW_E_CANNOT_CONNECT;  // the model places no other filter upstream of a connect
    }
    if (ConnectDirect(g, out, in, offered)) return S_OK;
    if (out.filter != kSourceFilter || g.present[kConverterFilter]) return VFW_E_CANNOT_CONNECT;
    // A converting filter goes between them.
    g.present[kConverterFilter] = true;
    g.in_graph[kConverterFilter] = true;
    g.pins[kConverterFilter] = {PINDIR_INPUT, PINDIR_OUTPUT};
    g.peer[kConverterFilter].assign(2, PinRef());
    if (ConnectDirect(g, out, PinRef{kConverterFilter, 0}, offered) &&
        ConnectDirect(g, PinRef{kConverterFilter, 1}, in, Rgb24Of(offered))) {
        return S_OK;
    }
    DisconnectAll(g, kConverterFilter);
    g.in_graph[kConverterFilter] = false;
    g.present[kConverterFilter] = false;
    return VFW_E_CANNOT_CONNECT;
}

void Model::DisconnectAll(GraphModel &g, int filter) {
    for (size_t i = 0; i < g.peer[filter].size(); ++i) {
        PinRef q = g.peer[filter][i];
        if (!q.valid()) continue;
        PinRef &back = g.peer[q.filter][static_cast<size_t>(q.pin)];
        if (back == PinRef{filter, static_cast<int>(i)}) back = PinRef();
        g.peer[filter][i] = PinRef();
    }
}

// --- teardown ---

void Model::RemoveDownstream(SessionModel &s, int filter) {
    GraphModel &g = s.graph;
    HRESULT hr = Check(Call::EnumPins);
    if (!FAILED(hr)) hr = Completed(hr, S_OK);
    if (hr != S_OK) return;
    for (size_t i = 0;; ++i) {
        hr = Check(Call::EnumPinsNext);
        if (!FAILED(hr)) hr = Completed(hr, i < g.pins[filter].size() ? S_OK : S_FALSE);
        if (hr != S_OK) return;
        const PinRef pin{filter, static_cast<int>(i)};
        PinRef peer;
        if (!FAILED(Check(Call::ConnectedTo))) peer = g.peer[filter][i];
        if (!peer.valid()) continue;
        hr = Check(Call::QueryPinInfo);
        if (!FAILED(hr)) hr = Completed(hr, S_OK);
        if (hr != S_OK) return;
        if (g.pins[peer.filter][static_cast<size_t>(peer.pin)] != PINDIR_INPUT) continue;
        RemoveDownstream(s, peer.filter);
        // Each side is disconnected by itself, and only while its filter is
        // in a stopped graph; a running graph refuses the removal as well.
        for (PinRef side : {peer, pin}) {
            if (FAILED(Check(Call::GraphDisconnect))) continue;
            if (!g.in_graph[side.filter] || g.running) continue;
            g.peer[side.filter][static_cast<size_t>(side.pin)] = PinRef();
        }
        if (!FAILED(Check(Call::RemoveFilter)) && g.in_graph[peer.filter] && !g.running) {
            g.in_graph[peer.filter] = false;
            DisconnectAll(g, peer.filter);
        }
    }
}

void Model::TearDownGraph(SessionModel &s) {
    GraphModel &g = s.graph;
    if (g.has_graph) {
        for (int f : {kSourceFilter, kGrabberFilter, kRendererFilter}) {
            if (g.present[f]) RemoveDownstream(s, f);
        }
    }
    s.built = false;
}

void Model::ReleaseGraph(SessionModel &s) {
    s.graph = GraphModel();
    s.sink.reset();
}

// --- preview ---

int Model::RunPreview(SessionModel &s) {
    if (s.previewing) return KOVIC_E_PREVIEWING;
    if (!s.built) {
        s.last_error = "Preview graph not built";
        return KOVIC_E_GRAPH_NOT_BUILT;
    }
    if (FAILED(Check(Call::QueryInterface, &IID_IMediaControl))) {
        s.last_error = "MediaControl interface not create";
        return KOVIC_E_MEDIA_CONTROL;
    }
    if (FAILED(Check(Call::MediaControlRun))) {
        if (!FAILED(Check(Call::MediaControlStop))) s.graph.running = false;
    } else {
        s.graph.running = true;
    }
    s.previewing = true;
    NotifyStatus(s, "Preview Start");
    return KOVIC_OK;
}

int Model::StopPreviewGraph(SessionModel &s) {
    if (!s.previewing) return KOVIC_E_NOT_PREVIEWING;
    if (FAILED(Check(Call::QueryInterface, &IID_IMediaControl))) {
        s.last_error = "MediaControl interface not create";
        return KOVIC_E_MEDIA_CONTROL;
    }
    if (!FAILED(Check(Call::MediaControlStop))) s.graph.running = false;
    s.previewing = false;
    NotifyStatus(s, "Preview Stop");
    return KOVIC_OK;
}

void Model::NotifyStatus(SessionModel &s, const char *text) {
    if (FAILED(Check(Call::SendMessage))) return;
    if (s.window < 0 || !windows_[static_cast<size_t>(s.window)].alive) return;
    HostMessage m;
    m.message = KOVIC_MSG_STATUS;
    m.text = text;
    m.lparam = kStatusBufferBytes;
    windows_[static_cast<size_t>(s.window)].received.push_back(m);
}

// --- frames ---

bool Model::PostFrame(SessionModel &s) {
    if (FAILED(Check(Call::PostMessage))) return false;
    if (s.window < 0) return false;
    WindowModel &w = windows_[static_cast<size_t>(s.window)];
    if (!w.alive || w.queued.size() >= w.capacity) return false;
    HostMessage m;
    m.message = KOVIC_MSG_FRAME;
    m.sink = s.sink->id;
    w.queued.push_back(m);
    return true;
}

Outcome Model::DeliverSample(int slot, int64_t start_100ns, const std::vector<uint8_t> &data, const Faults *faults) {
    BEGIN(faults);
    SessionModel &s = sessions_.at(static_cast<size_t>(slot));
    GraphModel &g = s.graph;
    if (!g.running) {
        out.result = VFW_E_WRONG_STATE;
        return out;
    }
    out.result = VFW_E_NOT_CONNECTED;
    for (size_t i = 0; i < g.peer[kSourceFilter].size(); ++i) {
        const PinRef next = g.peer[kSourceFilter][i];
        if (!next.valid()) continue;
        // What reaches the grabber: the sample itself, or the converter's
        // frame of its output size made of the sample's bytes repeated.
        std::vector<uint8_t> frame = data;
        if (next.filter == kConverterFilter) {
            frame.assign(FrameBytes(Rgb24Of(g.current)), 0);
            for (size_t b = 0; b < frame.size() && !data.empty(); ++b) frame[b] = data[b % data.size()];
        }
        out.result = S_OK;
        BufferCallback(s, start_100ns, frame, true);
    }
    return out;
}

void Model::BufferCallback(SessionModel &s, int64_t start_100ns, const std::vector<uint8_t> &frame, bool known) {
    if (frame.empty() || !s.sink || !s.sink->armed) return;  // no bytes, or dropped
    SinkModel &k = *s.sink;
    if (k.decoding) {
        // Only a frame that decodes whole is delivered; any other sample
        // leaves the sink armed and the descriptor as it was. A failed decode
        // may have written part of a picture: the buffer's bytes are then not
        // known until the next good frame.
        if (k.frame_bytes == 0) return;
        if (!k.has_buffer && !FAILED(Check(Call::LibraryAlloc))) {
            k.has_buffer = true;
            k.capacity = k.frame_bytes;
            k.content.assign(static_cast<size_t>(k.frame_bytes), 0);
            k.buffer_generation = ++next_buffer_;
        }
        if (k.has_buffer) {
            std::vector<uint8_t> picture;
            if (!DecodeMjpgFrame(frame, k.source_width, k.source_height, &picture)) {
                k.content_known = false;
                return;
            }
            k.content = std::move(picture);
        }
        k.armed = false;
        k.sample_time = static_cast<double>(start_100ns) * 1e-7;
        k.length = k.frame_bytes;
        k.content_known = known;
        PostFrame(s);
        return;
    }
    if (k.converting) {
        // A sample too short for its format is not taken: the sink stays armed.
        if (k.source_bytes == 0 || frame.size() < k.source_bytes) return;
        k.armed = false;
        if (!k.has_buffer && !FAILED(Check(Call::LibraryAlloc))) {
            k.has_buffer = true;
            k.capacity = k.frame_bytes;
            k.content.assign(static_cast<size_t>(k.frame_bytes), 0);
            k.buffer_generation = ++next_buffer_;
        }
        k.sample_time = static_cast<double>(start_100ns) * 1e-7;
        k.length = k.frame_bytes;
        k.content_known = known;
        if (k.has_buffer) {
            k.content = ConvertedFrame(LayoutOfSubtype(k.subtype), k.source_width, k.source_height, frame);
        }
        PostFrame(s);
        return;
    }
    k.armed = false;
    const int32_t bytes = static_cast<int32_t>(frame.size());
    if (k.has_buffer && bytes > k.capacity) {
        k.has_buffer = false;
        k.capacity = 0;
        k.content.clear();
    }
    if (!k.has_buffer && !FAILED(Check(Call::LibraryAlloc))) {
        k.has_buffer = true;
        k.capacity = bytes;
        k.content.assign(frame.size(), 0);
        k.buffer_generation = ++next_buffer_;
    }
    k.sample_time = static_cast<double>(start_100ns) * 1e-7;
    k.length = bytes;
    k.content_known = known;
    if (k.has_buffer) std::copy(frame.begin(), frame.end(), k.content.begin());
    PostFrame(s);
}

bool Model::StreamFormat(const GraphModel &g, emu::SimulatedFormat *format) {
    if (!HasSize(g.current)) return false;
    *format = emu::SimulatedFormat{g.current.subtype, g.current.width, g.current.height};
    const uint32_t bytes = FrameBytes(*format);
    return bytes > 0 && bytes <= static_cast<uint32_t>(INT32_MAX);
}

bool Model::AwaitsStreamedFrame(int slot) const {
    const SessionModel &s = sessions_.at(static_cast<size_t>(slot));
    emu::SimulatedFormat format;
    return s.open && s.built && s.graph.streams && s.graph.running && s.sink && s.sink->armed &&
           s.graph.device.frames_per_second > 0 && StreamFormat(s.graph, &format);
}

// Frame n of a run starts n whole intervals of 100 ns after the run began.
double Model::StreamedFrameTime(int slot, uint32_t frame_number) const {
    const GraphModel &g = sessions_.at(static_cast<size_t>(slot)).graph;
    const double interval = std::min(std::max(10000000.0 / g.device.frames_per_second, 1.0), 6e9);
    return static_cast<double>(static_cast<int64_t>(frame_number) * static_cast<int64_t>(interval)) * 1e-7;
}

void Model::StreamedFrame(int slot, uint32_t frame_number) {
    BEGIN(nullptr);
    SessionModel &s = sessions_.at(static_cast<size_t>(slot));
    GraphModel &g = s.graph;
    emu::SimulatedFormat format;
    if (!StreamFormat(g, &format)) return;
    std::vector<uint8_t> picture;
    const bool known = StreamedSample(g.device, format, frame_number, &picture);
    std::vector<uint8_t> frame = picture;
    if (g.in_graph[kConverterFilter]) {
        frame.assign(FrameBytes(Rgb24Of(g.current)), 0);
        for (size_t b = 0; b < frame.size(); ++b) frame[b] = picture[b % picture.size()];
    }
    const double interval = std::min(std::max(10000000.0 / g.device.frames_per_second, 1.0), 6e9);
    BufferCallback(s, static_cast<int64_t>(frame_number) * static_cast<int64_t>(interval), frame, known);
}

void Model::Pump(int window) {
    WindowModel &w = windows_.at(static_cast<size_t>(window));
    for (HostMessage &m : w.queued) w.received.push_back(m);
    w.queued.clear();
}

void Model::PumpAutomatic() {
    for (size_t i = 0; i < windows_.size(); ++i) {
        if (windows_[i].pumped_after_every_action) Pump(static_cast<int>(i));
    }
}

// --- snapshots ---

Outcome Model::SaveSingleFrameBitmap(intptr_t handle, bool file_name_given, const std::string &file,
                                     bool folder_exists, bool target_is_folder, const DescriptorView &frame,
                                     const Faults *faults) {
    BEGIN(faults);
    SessionModel *s = Resolve(handle);
    if (s == nullptr) {
        out.result = KOVIC_E_NULL_HANDLE;
        return out;
    }
    if (!s->sink) {
        out.result = KOVIC_E_NO_FRAME_SINK;
        return out;
    }
    if (!file_name_given) {
        out.result = KOVIC_E_NO_FILE_NAME;
        return out;
    }
    out.result = 0;
    // Nothing to write from: no descriptor, or a length its data does not back.
    if (frame.null || frame.length < 0 || (frame.length > 0 && frame.data_null)) return out;
    // The target is opened first, without truncating it; a missing folder or
    // a folder by that name refuses the open and nothing is touched.
    if (FAILED(Check(Call::CreateFile)) || !folder_exists || target_is_folder) return out;
    const bool existed = files_.count(file) != 0;
    Check(Call::GetFileType);  // every target here is a plain file; an unknown type is taken for one
    // The file's bytes: the headers, then the pixels, sized once.
    const std::vector<uint8_t> headers = ExpectedBitmapHeaders(frame.width, frame.height, frame.length);
    std::vector<uint8_t> bytes(headers.size() + frame.data.size());
    std::copy(headers.begin(), headers.end(), bytes.begin());
    std::copy(frame.data.begin(), frame.data.end(), bytes.begin() + static_cast<long>(headers.size()));
    // Writes the headers and the pixels and closes; true when all of it got
    // there. A write that fails, or writes less than asked while reporting
    // success (the emulated file service then writes half), ends the file;
    // `reached` is what the file holds afterwards.
    auto write_and_close = [&](std::vector<uint8_t> *reached) {
        reached->clear();
        size_t at = 0;
        auto write = [&](uint32_t count) {
            HRESULT hr = Check(Call::WriteFile);
            if (FAILED(hr)) return false;
            const size_t wrote = hr == S_FALSE ? count / 2 : count;
            reached->insert(reached->end(), bytes.begin() + static_cast<long>(at),
                            bytes.begin() + static_cast<long>(at + wrote));
            at += count;
            return hr != S_FALSE && count > 0;
        };
        bool written = write(14) && write(40) && (frame.length == 0 || write(static_cast<uint32_t>(frame.length)));
        return !FAILED(Check(Call::CloseHandle)) && written;
    };
    std::vector<uint8_t> reached;
    bool ok;
    if (!existed) {
        // A new file is written in place and removed again when the save fails.
        ok = write_and_close(&reached);
        if (!ok) Check(Call::DeleteFile);
    } else {
        // An existing file is let go and replaced by a complete temporary one.
        Check(Call::CloseHandle);
        if (FAILED(Check(Call::CreateFile))) {
            // No temporary: the target is rewritten in place, and holds what
            // reached it.
            if (FAILED(Check(Call::CreateFile))) return out;
            ok = write_and_close(&reached);
            files_[file] = reached;
        } else {
            ok = write_and_close(&reached);
            if (ok) ok = !FAILED(Check(Call::MoveFile));
            if (!ok) Check(Call::DeleteFile);
        }
    }
    if (ok) {
        files_[file] = bytes;
        out.result = KOVIC_OK;
    }
    return out;
}

}  // namespace walk
