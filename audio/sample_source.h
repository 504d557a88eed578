#pragma once

namespace morvane {

// What an audio callback pulls its samples from: the real-time core's renderer, or a
// test's signal. Render is called on the sound server's real-time thread, once per
// period, and must fill all of out (frames samples, mono, full scale at ±1.0) without
// locking, allocating, logging or making a system call: anything that waits there is
// heard as a gap.
class SampleSource {
public:
    virtual void Render(float* out, int frames) noexcept = 0;

protected:
    ~SampleSource() = default;
};

} // namespace morvane
