#include "play_stream.h"

#include <algorithm>

#include "pd_host.h"
#include "position/pluck_position.h"

extern "C" void attackscope_tilde_setup(void);

namespace evaluation {

std::vector<heard> play_stream(const std::vector<float> &audio, int block, int rate,
                               double pickup) {
    static const bool loaded = (attackscope_tilde_setup(), true);
    (void)loaded;
    pdhost::Object obj("attackscope~");
    obj.dsp(block, static_cast<float>(rate));
    dsp::pluck_tracker tracker;
    tracker.prepare(rate, block);
    tracker.set_pickup(pickup);
    std::vector<heard> out;
    std::vector<float> in(static_cast<size_t>(block));
    const size_t total = audio.size() + static_cast<size_t>(rate);
    for (size_t at = 0; at < total; at += static_cast<size_t>(block)) {
        for (size_t i = 0; i < in.size(); i++)
            in[i] = at + i < audio.size() ? audio[at + i] : 0.0f;
        const size_t before = obj.outlet(2).size();
        obj.perform(in.data());
        // A block that sent an energy is a gate block; one that did not ran the analysis.
        const bool gate_block = obj.outlet(2).size() > before;
        tracker.push(in.data(), block);
        dsp::pluck_estimate e{};
        if (tracker.advance(block, gate_block, e)) {
            heard h;
            h.position = e.position;
            h.f0 = e.f0;
            h.confidence = e.confidence;
            h.other = e.other;
            h.release = e.release_sample;
            h.arrival = static_cast<int64_t>(at) + block;
            const dsp::pluck_details d = tracker.details();
            h.inharmonicity = d.inharmonicity;
            h.residual = d.residual;
            h.spread = d.spread;
            h.aperiodicity = d.aperiodicity;
            h.margin = d.margin;
            h.used = d.used;
            out.push_back(h);
        }
        if (obj.outlet(2).size() > 4096)
            obj.clear_outlets();
    }
    return out;
}

} // namespace evaluation
