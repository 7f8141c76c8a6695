// Micro-benchmarks of the per-ray work: the nearest-hit search on each kind
// of object (fast search and the reference scan) and one whole traceRay.
// Run: build/release/bench/fotolume_micro
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "geometry/geometry.hpp"
#include "scene/scene.hpp"
#include "shading/shading.hpp"

namespace fotolume {
namespace {

enum Kind { Spheres, Triangles, Discs };

// 150 objects of one kind scattered in a 20-unit cube, and the rays of a
// camera looking into it.
void buildScene(Kind kind) {
    resetScene();
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> where(-10, 10), size(0.3, 1.0);
    lightCount = 2;
    growLights(lightCount);
    set(lightColor[0], 0.2, 0.2, 0.2);
    set(lightPosition[1], 5, 20, 10);
    set(lightColor[1], 1, 1, 1);
    set(lightAttenuation[1], 1, 0, 0);
    pigmentCount = 1;
    growPigments(pigmentCount);
    pigmentType[0] = PigmentType::Solid;
    set(pigmentColor1[0], 0.8, 0.3, 0.2);
    finishCount = 1;
    growFinishes(finishCount);
    finishAmbient[0] = 1;
    finishDiffuse[0] = 0.7;
    finishSpecular[0] = 0.3;
    finishShininess[0] = 20;
    finishIor[0] = 1;
    objectCount = 150;
    growObjects(objectCount);
    for (int i = 0; i < objectCount; ++i) {
        const Vetor c(where(rng), where(rng), where(rng) - 20);
        objectPointA[i] = c;
        objectRadius[i] = size(rng);
        if (kind == Spheres) {
            objectType[i] = ObjectType::Sphere;
        } else if (kind == Triangles) {
            objectType[i] = ObjectType::Triangle;
            objectPointB[i] = add(c, Vetor(size(rng), 0, size(rng)));
            objectPointC[i] = add(c, Vetor(0, size(rng), size(rng)));
        } else {
            objectType[i] = ObjectType::Disc;
            objectPointB[i] = Vetor(where(rng), where(rng), where(rng));
        }
    }
    sceneChanged();
}

std::vector<Vetor> cameraRays(int count) {
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> spread(-0.6, 0.6);
    std::vector<Vetor> rays;
    for (int i = 0; i < count; ++i) {
        Vetor d(spread(rng), spread(rng), -1);
        normalize(d);
        rays.push_back(d);
    }
    return rays;
}

template <double (*Search)(const Vetor&, const Vetor&, int&, Vetor&)>
void nearestHit(benchmark::State& state) {
    buildScene(static_cast<Kind>(state.range(0)));
    const std::vector<Vetor> rays = cameraRays(4096);
    const Vetor origin(0, 0, 10);
    std::size_t i = 0;
    for (auto _ : state) {
        int index;
        Vetor normal;
        benchmark::DoNotOptimize(Search(origin, rays[i++ & 4095], index, normal));
    }
}
BENCHMARK_TEMPLATE(nearestHit, intersectScene)->Arg(Spheres)->Arg(Triangles)->Arg(Discs);
BENCHMARK_TEMPLATE(nearestHit, intersectSceneLinear)->Arg(Spheres)->Arg(Triangles)->Arg(Discs);

void wholeTraceRay(benchmark::State& state) {
    buildScene(static_cast<Kind>(state.range(0)));
    finishReflection[0] = 0.3;
    const std::vector<Vetor> rays = cameraRays(4096);
    const Vetor origin(0, 0, 10);
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(traceRay(origin, rays[i++ & 4095], 0));
}
BENCHMARK(wholeTraceRay)->Arg(Spheres)->Arg(Triangles)->Arg(Discs);

}  // namespace
}  // namespace fotolume

BENCHMARK_MAIN();
