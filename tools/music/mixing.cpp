#include "music/mixing.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace music {

Stereo Echo(const Stereo& send, double delay, double feedback, double damping) {
    const size_t frames = send.Frames();
    const size_t lag = static_cast<size_t>(FrameAt(delay));
    Stereo line(frames);
    Stereo wet(frames);
    Smoother dullLeft;
    Smoother dullRight;
    for (size_t i = 0; i < frames; ++i) {
        const double fromLeft = i >= lag ? line.left[i - lag] : 0.0;
        const double fromRight = i >= lag ? line.right[i - lag] : 0.0;
        // The input enters on the left only; each repeat crosses to the other side.
        line.left[i] =
            0.5 * (send.left[i] + send.right[i]) + feedback * dullRight.Step(fromRight, damping);
        line.right[i] = feedback * dullLeft.Step(fromLeft, damping);
        wet.left[i] = fromLeft;
        wet.right[i] = fromRight;
    }
    return wet;
}

namespace {

class Comb {
  public:
    explicit Comb(size_t length) : buffer_(length, 0.0) {}
    double Step(double in, double feedback, double damping) {
        const double out = buffer_[at_];
        memory_ = out * (1.0 - damping) + memory_ * damping;
        buffer_[at_] = in + memory_ * feedback;
        at_ = (at_ + 1) % buffer_.size();
        return out;
    }

  private:
    std::vector<double> buffer_;
    size_t at_ = 0;
    double memory_ = 0.0;
};

class AllPass {
  public:
    explicit AllPass(size_t length) : buffer_(length, 0.0) {}
    double Step(double in) {
        const double delayed = buffer_[at_];
        buffer_[at_] = in + delayed * 0.5;
        at_ = (at_ + 1) % buffer_.size();
        return delayed - in;
    }

  private:
    std::vector<double> buffer_;
    size_t at_ = 0;
};

// Mutually prime lengths (in frames at 44.1 kHz) keep the combs' echoes from lining up.
constexpr std::array<size_t, 8> kCombLengths{1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr std::array<size_t, 4> kAllPassLengths{556, 441, 341, 225};
constexpr size_t kRightSpread = 23;

void ReverbChannel(const Stereo& send, std::vector<double>& out, size_t spread, double feedback,
                   double damping) {
    std::vector<Comb> combs;
    for (size_t length : kCombLengths)
        combs.emplace_back(length + spread);
    std::vector<AllPass> passes;
    for (size_t length : kAllPassLengths)
        passes.emplace_back(length + spread);
    for (size_t i = 0; i < send.Frames(); ++i) {
        const double in = 0.015 * (send.left[i] + send.right[i]);
        double sum = 0.0;
        for (Comb& comb : combs)
            sum += comb.Step(in, feedback, damping);
        for (AllPass& pass : passes)
            sum = pass.Step(sum);
        out[i] = sum;
    }
}

} // namespace

Stereo Reverb(const Stereo& send, double feedback, double damping) {
    Stereo wet(send.Frames());
    ReverbChannel(send, wet.left, 0, feedback, damping);
    ReverbChannel(send, wet.right, kRightSpread, feedback, damping);
    return wet;
}

static void RemoveRumble(std::vector<double>& channel) {
    const double pole = 1.0 - 2.0 * kPi * 20.0 / kSampleRate;
    double lastIn = 0.0;
    double lastOut = 0.0;
    for (double& sample : channel) {
        const double out = sample - lastIn + pole * lastOut;
        lastIn = sample;
        lastOut = out;
        sample = out;
    }
}

void RemoveRumble(Stereo& signal) {
    RemoveRumble(signal.left);
    RemoveRumble(signal.right);
}

void FadeEnds(Stereo& signal, double in, double out) {
    const size_t frames = signal.Frames();
    const size_t rise = std::min(frames, static_cast<size_t>(FrameAt(in)));
    const size_t fall = std::min(frames, static_cast<size_t>(FrameAt(out)));
    for (size_t i = 0; i < rise; ++i) {
        const double g = static_cast<double>(i) / rise;
        signal.left[i] *= g * g;
        signal.right[i] *= g * g;
    }
    for (size_t i = 0; i < fall; ++i) {
        const double g = static_cast<double>(i) / fall;
        signal.left[frames - 1 - i] *= g * g;
        signal.right[frames - 1 - i] *= g * g;
    }
}

} // namespace music
