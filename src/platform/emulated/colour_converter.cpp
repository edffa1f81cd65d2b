// The converting filter the emulated graph's Connect places between two pins
// that will not connect directly. It takes any video type whose format block
// holds a usable size and gives bottom-up RGB24 of that size. Its output frame
// is the input's bytes repeated to the RGB24 frame's length: a stand-in for a
// colour conversion that keeps each input's bytes recognisable downstream. The
// output buffer is sized once per connection; a sample costs no allocation.
#include "platform/emulated/graph_model.h"

namespace emu {
namespace {

class ColourConverter;

class ConverterInputPin final : public EmuPin {
public:
    explicit ConverterInputPin(EmuFilter *owner) : EmuPin(owner, PINDIR_INPUT, L"XForm In") {}
    bool Accepts(const MediaTypeRecord &type) const override {
        int32_t width = 0, height = 0;
        return IsEqualGUID(type.majortype, MEDIATYPE_Video) && type.ReadSize(&width, &height) && width > 0 &&
               height != 0 && height != INT32_MIN;
    }
};

class ConverterOutputPin final : public EmuPin {
public:
    ConverterOutputPin(EmuFilter *owner, const EmuPin *input) : EmuPin(owner, PINDIR_OUTPUT, L"XForm Out"), input_(input) {}
    std::vector<MediaTypeRecord> OfferedTypes() const override {
        int32_t width = 0, height = 0;
        if (input_->peer() == nullptr || !input_->connected_type().ReadSize(&width, &height)) return {};
        return {MediaTypeRecord::Rgb24(width, height < 0 ? -height : height)};
    }
    bool ReadyToConnect() const override { return input_->peer() != nullptr; }

private:
    const EmuPin *input_;
};

class ColourConverter final : public EmuFilter {
public:
    ColourConverter() : EmuFilter(L"Colour Converter") {
        auto input = std::make_unique<ConverterInputPin>(this);
        auto output = std::make_unique<ConverterOutputPin>(this, input.get());
        output_ = output.get();
        AddPin(std::move(input));
        AddPin(std::move(output));
    }
    bool is_converter() const override { return true; }

    void PinConnected(EmuPin *pin) override {
        if (pin == output_) frame_.assign(output_->connected_type().sample_size, 0);
    }

    HRESULT Receive(EmuPin *, REFERENCE_TIME start, const BYTE *data, LONG length) override {
        if (state() == GraphState::kStopped) return VFW_E_WRONG_STATE;
        if (output_->peer() == nullptr) return VFW_E_NOT_CONNECTED;
        for (size_t i = 0; i < frame_.size(); ++i) {
            frame_[i] = (data != nullptr && length > 0) ? data[i % static_cast<size_t>(length)] : 0;
        }
        return PassDownstream(output_, start, frame_.data(), static_cast<LONG>(frame_.size()));
    }

private:
    EmuPin *output_ = nullptr;
    std::vector<BYTE> frame_;
};

}  // namespace

EmuFilter *NewColourConverter() { return new ColourConverter(); }

}  // namespace emu
