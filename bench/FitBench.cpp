// Megapixels per second of every kernel variant this processor runs, and of
// memcpy over the same buffer, on 12-megapixel images, in one run so the
// figures are comparable. --small takes images of 1000 x 750 instead, for runs
// under an emulator; --count=VARIANT CROP runs one variant once on a crop of
// the photo (written by --write-crop=CROP) between two marker lines, for
// counting its instructions.
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

// 12 megapixels, or 0.75 with --small.
uint32_t gWidth = 4000, gHeight = 3000;
size_t gBytes = size_t{gWidth} * gHeight * 3;

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
    std::vector<uint8_t> out(gBytes);
    for (uint32_t y = 0; y < gHeight; ++y) {
      const uint32_t ty = (y / h) % 2 ? h - 1 - y % h : y % h;
      for (uint32_t x = 0; x < gWidth; ++x) {
        const uint32_t tx = (x / w) % 2 ? w - 1 - x % w : x % w;
        std::memcpy(&out[(size_t{y} * gWidth + x) * 3], &photo[(size_t{ty} * w + tx) * 3], 3);
      }
    }
    return out;
  }();
  return image;
}

// Uniform noise: no two neighbouring cells alike, the worst case.
const std::vector<uint8_t>& NoiseImage() {
  static const std::vector<uint8_t> image = [] {
    std::vector<uint8_t> out(gBytes);
    std::mt19937 rng(1);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
  }();
  return image;
}

void SetRate(benchmark::State& state) {
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(gWidth) * gHeight * static_cast<double>(state.iterations()) / 1e6,
                         benchmark::Counter::kIsRate);
}

void Kernel(benchmark::State& state, FitFunction fit, const std::vector<uint8_t>* source) {
  std::vector<uint8_t> buffer(*source);
  for (auto _ : state) {
    // The kernel works in place: every run starts from the original pixels.
    state.PauseTiming();
    std::memcpy(buffer.data(), source->data(), gBytes);
    state.ResumeTiming();
    fit(buffer.data(), gWidth, gHeight, static_cast<int32_t>(gWidth * 3));
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

void Memcpy(benchmark::State& state) {
  const std::vector<uint8_t>& source = PhotoImage();
  std::vector<uint8_t> buffer(gBytes);
  for (auto _ : state) {
    std::memcpy(buffer.data(), source.data(), gBytes);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

const FitKernel* FindKernel(std::string_view name) {
  for (const FitKernel& k : FitKernels())
    if (name == k.name && k.supported()) return &k;
  return nullptr;
}

// The image instructions are counted on: the photo's top-left 256 x 192
// pixels (32 x 16 cells), as raw RGB, so that reading it costs next to nothing
// under an emulator that logs every instruction.
constexpr uint32_t kCropWidth = 256, kCropHeight = 192;
constexpr size_t kCropBytes = size_t{kCropWidth} * kCropHeight * 3;

int WriteCrop(const char* path) {
  uint32_t w = 0, h = 0;
  const std::vector<uint8_t> photo = LoadPng(std::string(GM_SAMPLES_DIR) + "/coffee.png", w, h);
  FILE* file = std::fopen(path, "wb");
  bool written = file != nullptr;
  for (uint32_t y = 0; y < kCropHeight && written; ++y)
    written = std::fwrite(&photo[size_t{y} * w * 3], 3, kCropWidth, file) == kCropWidth;
  if (file && std::fclose(file) != 0) written = false;
  if (written) return 0;
  std::fprintf(stderr, "fit_bench: cannot write %s\n", path);
  return 1;
}

// The crop's run, alone between two lines on standard error: an emulator
// logging each instruction to standard error sees exactly this work and the
// few instructions of the markers, which --count=none measures; valgrind
// can collect inside Counted alone.
extern "C" [[gnu::noinline]] void Counted(FitFunction fit, uint8_t* pixels) {
  if (fit) fit(pixels, kCropWidth, kCropHeight, static_cast<int32_t>(kCropWidth * 3));
  asm volatile("" ::: "memory");
}

int Count(std::string_view name, const char* path) {
  const FitKernel* kernel = FindKernel(name);
  if (!kernel && name != "none") {
    std::fprintf(stderr, "fit_bench: no variant %.*s on this processor\n", static_cast<int>(name.size()), name.data());
    return 1;
  }
  std::vector<uint8_t> crop(kCropBytes);
  FILE* file = std::fopen(path, "rb");
  const bool read = file && std::fread(crop.data(), 1, kCropBytes, file) == kCropBytes;
  if (file) std::fclose(file);
  if (!read) {
    std::fprintf(stderr, "fit_bench: cannot read %u x %u pixels from %s\n", kCropWidth, kCropHeight, path);
    return 1;
  }
  // A first run builds the tables, outside the count.
  const FitFunction fit = kernel ? kernel->fit : nullptr;
  std::vector<uint8_t> first = crop;
  if (fit) fit(first.data(), kCropWidth, kCropHeight, static_cast<int32_t>(kCropWidth * 3));
  std::fprintf(stderr, "gm-count-start %u\n", kCropWidth * kCropHeight);
  Counted(fit, crop.data());
  std::fprintf(stderr, "gm-count-end\n");
  return first == crop ? 0 : 1;
}

}  // namespace

// --write-photo=FILE saves the 12-megapixel photo as a PNG, for timing the
// command-line tool on the very image the kernels run on.
int WritePhoto(const char* path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = gWidth;
  image.height = gHeight;
  image.format = PNG_FORMAT_RGB;
  if (png_image_write_to_file(&image, path, 0, PhotoImage().data(), 0, nullptr)) return 0;
  std::fprintf(stderr, "fit_bench: cannot write %s: %s\n", path, image.message);
  return 1;
}

int main(int argc, char** argv) {
  constexpr std::string_view kWriteOption = "--write-photo=";
  if (argc == 2 && std::string_view(argv[1]).starts_with(kWriteOption))
    return WritePhoto(argv[1] + kWriteOption.size());
  constexpr std::string_view kCropOption = "--write-crop=", kCountOption = "--count=";
  if (argc == 2 && std::string_view(argv[1]).starts_with(kCropOption)) return WriteCrop(argv[1] + kCropOption.size());
  if (argc == 3 && std::string_view(argv[1]).starts_with(kCountOption))
    return Count(argv[1] + kCountOption.size(), argv[2]);
  // Medians of three runs each, so that a burst of other work on the machine
  // moves the figures less.
  constexpr int kRepetitions = 3;
  if (argc >= 2 && std::string_view(argv[1]) == "--small") {
    gWidth = 1000;
    gHeight = 750;
    gBytes = size_t{gWidth} * gHeight * 3;
    argv[1] = argv[0];
    --argc;
    ++argv;
  }
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
