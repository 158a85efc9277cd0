// Megapixels per second of every kernel variant this processor runs, and of
// memcpy over the same buffer, on 12-megapixel images, in one run so the
// figures are comparable.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fit/Kernels.h"

namespace {

constexpr uint32_t kWidth = 4000, kHeight = 3000;  // 12 megapixels
constexpr size_t kBytes = size_t{kWidth} * kHeight * 3;

std::vector<uint8_t> LoadPng(const std::string& path, uint32_t& width, uint32_t& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint8_t> rgb;
  if (png_image_begin_read_from_file(&image, path.c_str())) {
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
      width = image.width;
      height = image.height;
      return rgb;
    }
  }
  std::fprintf(stderr, "fit_bench: cannot read %s: %s\n", path.c_str(), image.message);
  std::exit(1);
}

// A real photo at its own scale, mirrored tile by tile to 4000 x 3000, so
// that edges, texture and flat areas come in a photo's proportions.
const std::vector<uint8_t>& PhotoImage() {
  static const std::vector<uint8_t> image = [] {
    uint32_t w = 0, h = 0;
    const std::vector<uint8_t> photo = LoadPng(std::string(GM_SAMPLES_DIR) + "/coffee.png", w, h);
    std::vector<uint8_t> out(kBytes);
    for (uint32_t y = 0; y < kHeight; ++y) {
      const uint32_t ty = (y / h) % 2 ? h - 1 - y % h : y % h;
      for (uint32_t x = 0; x < kWidth; ++x) {
        const uint32_t tx = (x / w) % 2 ? w - 1 - x % w : x % w;
        std::memcpy(&out[(size_t{y} * kWidth + x) * 3], &photo[(size_t{ty} * w + tx) * 3], 3);
      }
    }
    return out;
  }();
  return image;
}

// Uniform noise: no two neighbouring cells alike, the worst case.
const std::vector<uint8_t>& NoiseImage() {
  static const std::vector<uint8_t> image = [] {
    std::vector<uint8_t> out(kBytes);
    std::mt19937 rng(1);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
  }();
  return image;
}

void SetRate(benchmark::State& state) {
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(kWidth) * kHeight * static_cast<double>(state.iterations()) / 1e6,
                         benchmark::Counter::kIsRate);
}

void Kernel(benchmark::State& state, FitFunction fit, const std::vector<uint8_t>* source) {
  std::vector<uint8_t> buffer(*source);
  for (auto _ : state) {
    // The kernel works in place: every run starts from the original pixels.
    state.PauseTiming();
    std::memcpy(buffer.data(), source->data(), kBytes);
    state.ResumeTiming();
    fit(buffer.data(), kWidth, kHeight, static_cast<int32_t>(kWidth * 3));
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

void Memcpy(benchmark::State& state) {
  const std::vector<uint8_t>& source = PhotoImage();
  std::vector<uint8_t> buffer(kBytes);
  for (auto _ : state) {
    std::memcpy(buffer.data(), source.data(), kBytes);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

}  // namespace

// --write-photo=FILE saves the 12-megapixel photo as a PNG, for timing the
// command-line tool on the very image the kernels run on.
int WritePhoto(const char* path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kWidth;
  image.height = kHeight;
  image.format = PNG_FORMAT_RGB;
  if (png_image_write_to_file(&image, path, 0, PhotoImage().data(), 0, nullptr)) return 0;
  std::fprintf(stderr, "fit_bench: cannot write %s: %s\n", path, image.message);
  return 1;
}

int main(int argc, char** argv) {
  constexpr std::string_view kWriteOption = "--write-photo=";
  if (argc == 2 && std::string_view(argv[1]).starts_with(kWriteOption))
    return WritePhoto(argv[1] + kWriteOption.size());
  // Medians of three runs each, so that a burst of other work on the machine
  // moves the figures less.
  constexpr int kRepetitions = 3;
  benchmark::RegisterBenchmark("memcpy", Memcpy)
      ->Unit(benchmark::kMillisecond)
      ->Repetitions(kRepetitions)
      ->ReportAggregatesOnly(true);
  for (const FitKernel& k : FitKernels()) {
    if (!k.supported()) continue;
    for (const auto& [name, image] : {std::pair{"photo", &PhotoImage()}, std::pair{"noise", &NoiseImage()}}) {
      auto* b = benchmark::RegisterBenchmark((std::string("kernel/") + name + "/" + k.name).c_str(), Kernel, k.fit, image);
      b->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
      // The plain kernel takes about a second a run; a few runs suffice.
      if (std::strcmp(k.name, "plain") == 0) b->Iterations(3);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
