// Cost of one frame's particle motion: 150 live particles against 6 sources and 6 sinks.
#include "effects/field.h"
#include "effects/particles.h"
#include "scene/frame_clock.h"
#include "scene/scene_init.h"

#include <benchmark/benchmark.h>

static void BM_UpdateAllParticles(benchmark::State& state) {
    InitScene();
    SetFormation(7);
    for (int i = 0; i < sourceCount; ++i)
        MoveSource(i, 1);
    for (int i = 0; i < sinkCount; ++i)
        MoveSink(i, 1);
    gFrameStep = 0.016f;
    for (int i = 0; i < particleCapacity; ++i)
        RespawnParticle(i);
    for (auto _ : state) {
        for (int i = 0; i < particleCapacity; ++i)
            UpdateParticle(i);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * particleCapacity);
}
BENCHMARK(BM_UpdateAllParticles);

BENCHMARK_MAIN();
