// The emulated null renderer (CLSID_NullRenderer): one input pin that takes any
// type, and a count of the samples it has received while not stopped.
#include "platform/emulated/graph_model.h"

namespace emu {
namespace {

class NullRenderer final : public EmuFilter {
public:
    NullRenderer() : EmuFilter(L"Null Renderer") { AddPin(std::make_unique<EmuPin>(this, PINDIR_INPUT, L"In")); }

    HRESULT Receive(EmuPin *, REFERENCE_TIME, const BYTE *, LONG) override {
        if (state() == GraphState::kStopped) return VFW_E_WRONG_STATE;
        samples_.fetch_add(1, std::memory_order_relaxed);
        return S_OK;
    }
    int samples() const { return samples_.load(std::memory_order_relaxed); }

private:
    std::atomic<int> samples_{0};
};

}  // namespace

HRESULT CreateNullRenderer(REFIID iid, void **out) { return HandOut(new NullRenderer(), iid, out); }

int RendererSamples(IBaseFilter *renderer) {
    auto *r = dynamic_cast<NullRenderer *>(renderer);
    return r != nullptr ? r->samples() : -1;
}

}  // namespace emu
