#include "tests/win32/EmulatedHost.h"

#include <algorithm>

namespace gm::win32 {

namespace {

// Win32 offsets in the filter record, as host applications lay it out.
constexpr uint32_t kAbortProc = 4, kProgressProc = 8, kImageSize = 16, kPlanes = 20, kFilterRect = 22,
                   kMaxSpace = 44, kBufferSpace = 48, kInRect = 52, kInData = 76, kMaskRect = 96,
                   kFloatCoord = 140, kOutRect = 64, kOutLoPlane = 72, kOutHiPlane = 74, kOutData = 84,
                   kOutRowBytes = 88, kHostSig = 120, kImageMode = 128, kImageHRes = 132, kImageVRes = 136,
                   kWholeSize = 144, kSupportsPadding = 237, kFilterCase = 216, kAdvanceState = 224,
                   kInLayerPlanes = 260, kInTransparencyMask = 262, kOutLayerPlanes = 270,
                   kOutTransparencyMask = 272, kInTileHeight = 324, kInTileWidth = 326, kOutTileHeight = 340,
                   kOutTileWidth = 342, kSPBasic = 372, kDepth = 380, kBigDocumentData = 400;
constexpr uint32_t kRecordBytes = 404 + 512;  // later hosts append fields: a zeroed tail
// The 32-bit coordinate record (all int32).
constexpr uint32_t kUsing32 = 0, kImageSize32 = 4, kFilterRect32 = 12, kOutRect32 = 44, kWholeSize32 = 84;
constexpr uint32_t kBigDocumentBytes = 92;
// The about record: three pointers and reserved bytes.
constexpr uint32_t kAboutSPBasic = 4, kAboutRecordBytes = 12 + 244;

constexpr int32_t kOutOfMemory = memFullErr, kBadBlock = paramErr;
constexpr uint8_t kPaddingCanary = 0xA5;
constexpr int32_t kContinueLimit = 1 << 16;

int16_t Clamp16(int32_t v) { return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX)); }

}  // namespace

struct EmulatedProcess::RunState {
  uint32_t record = 0;
  uint32_t big = 0;
  Image* image = nullptr;
  const host::RunOptions* options = nullptr;
  host::RunReport* report = nullptr;
  uint32_t buffer = 0;
  std::optional<host::Delivery> delivered;
  int32_t planesTold = 0;
};

EmulatedProcess::EmulatedProcess(const std::string& modulePath, std::map<std::string, std::string> environment,
                                 const std::vector<std::string>& withheld)
    : machine_(std::make_unique<Machine>()), api_(std::make_unique<Win32Api>(*machine_)) {
  api_->environment = std::move(environment);
  for (const std::string& name : withheld) api_->Withhold(name);
  api_->debugSink = [this](const std::string& line) { events.push_back({0, "debug", line, 0, 0, 0}); };
  AddHostFunctions();
  module_ = std::make_unique<PeModule>(*machine_, modulePath, kLoadBase,
                                       [this](const std::string& dll, const std::string& name) {
                                         return api_->Resolve(dll, name);
                                       });
  module_->Attach();
}

EmulatedProcess::~EmulatedProcess() {
  try {
    module_->Detach();
  } catch (const EmulationError&) {
    // A failing test has already reported what went wrong.
  }
}

uint32_t EmulatedProcess::Export(const std::string& name) const {
  const uint32_t address = module_->Export(name);
  if (!address) throw EmulationError("the module exports no " + name);
  return address;
}

std::vector<HostEvent> EmulatedProcess::Events(const std::string& what) const {
  std::vector<HostEvent> found;
  std::copy_if(events.begin(), events.end(), std::back_inserter(found),
               [&](const HostEvent& e) { return e.what == what; });
  return found;
}

void EmulatedProcess::AddHostFunctions() {
  Machine& m = *machine_;
  dataSlot_ = m.Allocate(4, true);
  resultSlot_ = m.Allocate(2, true);
  dummySuite_ = m.Allocate(64);

  abortProc_ = m.AddNative({.name = "host abortProc", .fn = [this](NativeCall&) -> uint64_t {
                              if (!run_) return 0;
                              ++run_->report->abortPolls;
                              return run_->options->abort && run_->options->abort() ? 1 : 0;
                            }, .resultBits = 8});
  progressProc_ = m.AddNative({.name = "host progressProc", .fn = [this](NativeCall& c) -> uint64_t {
                                 if (!run_) return 0;
                                 ++run_->report->progressCalls;
                                 // As the built-in host scales it: the total counts the planes.
                                 const auto done = static_cast<int32_t>(c.Arg(0));
                                 const auto total = static_cast<int32_t>(c.Arg(1));
                                 if (run_->options->progress && total > 0) {
                                   run_->options->progress(
                                       std::clamp(static_cast<double>(done) * run_->planesTold / total, 0.0, 1.0));
                                 }
                                 return 0;
                               }});
  advanceState_ = m.AddNative({.name = "host advanceState", .fn = [this](NativeCall&) -> uint64_t {
                                 if (!run_) return static_cast<uint16_t>(paramErr);
                                 WriteBack(*run_);
                                 return static_cast<uint16_t>(Deliver(*run_));
                               }, .resultBits = 16});

  for (int number = 1; number <= 2; ++number) {
    auto event = [this, number](const std::string& what, const std::string& name, int32_t version, uint32_t size,
                                uint32_t block) { events.push_back({number, what, name, version, size, block}); };
    uint32_t table[7];
    table[0] = m.AddNative({.name = "AcquireSuite", .fn = [this, &m, event](NativeCall& c) -> uint64_t {
                              event("acquire", m.ReadString(c.Arg(0)), static_cast<int32_t>(c.Arg(1)), 0, 0);
                              if (run_) return kSuiteNotFound;  // a filter run needs none
                              m.Put<uint32_t>(c.Arg(2), dummySuite_);
                              return 0;
                            }});
    table[1] = m.AddNative({.name = "ReleaseSuite", .fn = [&m, event](NativeCall& c) -> uint64_t {
                              event("release", m.ReadString(c.Arg(0)), static_cast<int32_t>(c.Arg(1)), 0, 0);
                              return 0;
                            }});
    table[2] = m.AddNative({.name = "IsEqual", .fn = [&m](NativeCall& c) -> uint64_t {
                              return m.ReadString(c.Arg(0)) == m.ReadString(c.Arg(1));
                            }});
    table[3] = m.AddNative({.name = "AllocateBlock", .fn = [&m, event](NativeCall& c) -> uint64_t {
                              const uint32_t block = m.Allocate(c.Arg(0));
                              if (!block) return static_cast<uint32_t>(kOutOfMemory);
                              m.Put<uint32_t>(c.Arg(1), block);
                              event("allocate", "", 0, c.Arg(0), block);
                              return 0;
                            }});
    table[4] = m.AddNative({.name = "FreeBlock", .fn = [&m, event](NativeCall& c) -> uint64_t {
                              event("free", "", 0, 0, c.Arg(0));
                              if (!c.Arg(0)) return 0;
                              return m.Free(c.Arg(0)) ? 0 : static_cast<uint32_t>(kBadBlock);
                            }});
    table[5] = m.AddNative({.name = "ReallocateBlock", .fn = [&m, event](NativeCall& c) -> uint64_t {
                              const uint32_t old = c.Arg(0);
                              if (old && !m.IsBlock(old)) return static_cast<uint32_t>(kBadBlock);
                              const uint32_t fresh = m.Allocate(c.Arg(1));
                              if (!fresh) return static_cast<uint32_t>(kOutOfMemory);
                              if (old) {
                                std::vector<uint8_t> bytes(std::min(c.Arg(1), m.BlockSize(old)));
                                m.Read(old, bytes.data(), bytes.size());
                                m.Write(fresh, bytes.data(), bytes.size());
                                m.Free(old);
                              }
                              m.Put<uint32_t>(c.Arg(2), fresh);
                              event("reallocate", "", 0, c.Arg(1), fresh);
                              return 0;
                            }});
    table[6] = m.AddNative({.name = "Undefined", .fn =
                            [](NativeCall&) -> uint64_t { return static_cast<uint32_t>(kBadBlock); }});
    suites_[number - 1] = m.Allocate(sizeof table, true);
    m.Write(suites_[number - 1], table, sizeof table);
  }
}

int16_t EmulatedProcess::CallEntry(int16_t selector, uint32_t record) {
  machine_->Put<int16_t>(resultSlot_, 0);
  const uint32_t args[4] = {static_cast<uint32_t>(static_cast<int32_t>(selector)), record, dataSlot_, resultSlot_};
  machine_->Call(Export("PluginMain"), args, Convention::Cdecl);
  return machine_->Get<int16_t>(resultSlot_);
}

void EmulatedProcess::HandOver(uint32_t suite) {
  const uint32_t record = machine_->Allocate(kRecordBytes, true);
  machine_->Put<uint32_t>(record + kSPBasic, suite);
  CallEntry(filterSelectorParameters, record);
  machine_->Free(record);
}

int16_t EmulatedProcess::About() {
  const uint32_t record = machine_->Allocate(kAboutRecordBytes, true);
  machine_->Put<uint32_t>(record + kAboutSPBasic, BasicSuite(1));
  const int16_t result = CallEntry(filterSelectorAbout, record);
  machine_->Free(record);
  return result;
}

// The out rectangle in the coordinate form the module is using.
VRect EmulatedProcess::OutRect(const RunState& run) const {
  Machine& m = *machine_;
  if (run.big && m.Get<int32_t>(run.big + kUsing32) != 0) return m.Get<VRect>(run.big + kOutRect32);
  const Rect r16 = m.Get<Rect>(run.record + kOutRect);
  return VRect{r16.top, r16.left, r16.bottom, r16.right};
}

int16_t EmulatedProcess::Deliver(RunState& run) {
  Machine& m = *machine_;
  m.Put<uint32_t>(run.record + kOutData, 0);
  m.Put<int32_t>(run.record + kOutRowBytes, 0);
  const VRect r = OutRect(run);
  const int16_t lo = m.Get<int16_t>(run.record + kOutLoPlane);
  const int16_t hi = m.Get<int16_t>(run.record + kOutHiPlane);
  const Image& image = *run.image;
  const bool inside = r.top >= 0 && r.left >= 0 && r.top <= r.bottom && r.left <= r.right &&
                      r.bottom <= image.height && r.right <= image.width;
  if (!inside || lo < 0 || lo > hi || hi >= image.channels) {
    run.report->hostError = paramErr;
    return paramErr;
  }
  if (r.top == r.bottom || r.left == r.right) return 0;

  const size_t planes = static_cast<size_t>(hi - lo + 1);
  const size_t width = static_cast<size_t>(r.right - r.left);
  const size_t height = static_cast<size_t>(r.bottom - r.top);
  const size_t stride = width * planes + static_cast<size_t>(std::max(0, run.options->rowPadding));
  std::vector<uint8_t> bytes(stride * height, kPaddingCanary);
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* src = image.At(r.left, r.top + static_cast<int32_t>(y)) + lo;
    uint8_t* dst = bytes.data() + y * stride;
    for (size_t x = 0; x < width; ++x, src += image.channels, dst += planes) std::memcpy(dst, src, planes);
  }
  // Exactly the buffer's size against an unmapped page: one byte past it faults.
  run.buffer = m.Allocate(static_cast<uint32_t>(bytes.size()), true);
  if (!run.buffer) throw EmulationError("the emulated heap is exhausted");
  m.Write(run.buffer, bytes.data(), bytes.size());
  m.Put<uint32_t>(run.record + kOutData, run.buffer);
  m.Put<int32_t>(run.record + kOutRowBytes, static_cast<int32_t>(stride));
  run.delivered = host::Delivery{r, lo, hi, static_cast<int32_t>(stride)};
  run.report->deliveries.push_back(*run.delivered);
  return 0;
}

void EmulatedProcess::WriteBack(RunState& run) {
  if (!run.delivered) return;
  const host::Delivery d = *run.delivered;
  run.delivered.reset();
  const size_t planes = static_cast<size_t>(d.hiPlane - d.loPlane + 1);
  const size_t width = static_cast<size_t>(d.rect.right - d.rect.left);
  const size_t height = static_cast<size_t>(d.rect.bottom - d.rect.top);
  const size_t stride = static_cast<size_t>(d.rowBytes);
  std::vector<uint8_t> bytes(stride * height);
  machine_->Read(run.buffer, bytes.data(), bytes.size());
  machine_->Free(run.buffer);  // unmapped: a stale pointer to it faults
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* src = bytes.data() + y * stride;
    uint8_t* dst = run.image->At(d.rect.left, d.rect.top + static_cast<int32_t>(y)) + d.loPlane;
    for (size_t x = 0; x < width; ++x, dst += run.image->channels, src += planes) std::memcpy(dst, src, planes);
    for (size_t i = width * planes; i < stride; ++i) {
      if (bytes[y * stride + i] != kPaddingCanary) ++run.report->paddingBytesTouched;
    }
  }
}

host::RunReport EmulatedProcess::Run(Image& image, const host::RunOptions& options) {
  Machine& m = *machine_;
  host::RunReport report;
  const VRect filter = options.filterRect.value_or(VRect{0, 0, image.height, image.width});
  RunState run;
  run.image = &image;
  run.options = &options;
  run.report = &report;
  run.record = m.Allocate(kRecordBytes, true);
  const uint32_t r = run.record;
  const bool selection = options.filterRect.has_value();
  const bool layer = image.channels == 4 && options.alphaIsTransparency;
  run.planesTold = layer ? 3 : image.channels;
  m.Put<uint32_t>(r + kAbortProc, abortProc_);
  m.Put<uint32_t>(r + kProgressProc, progressProc_);
  m.Put<uint32_t>(r + kAdvanceState, advanceState_);
  m.Put<uint32_t>(r + kSPBasic, BasicSuite(1));
  const Point size16{Clamp16(image.height), Clamp16(image.width)};
  m.Put(r + kImageSize, size16);
  m.Put(r + kWholeSize, size16);
  m.Put<int16_t>(r + kPlanes, static_cast<int16_t>(image.channels));
  m.Put(r + kFilterRect, Rect{Clamp16(filter.top), Clamp16(filter.left), Clamp16(filter.bottom), Clamp16(filter.right)});
  m.Put<int16_t>(r + kFilterCase, layer ? (selection ? filterCaseEditableTransparencyWithSelection : filterCaseEditableTransparencyNoSelection)
                                        : (selection ? filterCaseFlatImageWithSelection : filterCaseFlatImageNoSelection));
  if (layer) {
    m.Put<int16_t>(r + kInLayerPlanes, 3);
    m.Put<int16_t>(r + kOutLayerPlanes, 3);
    m.Put<int16_t>(r + kInTransparencyMask, 1);
    m.Put<int16_t>(r + kOutTransparencyMask, 1);
  }
  m.Put<int16_t>(r + kImageMode, kImageModeRGB);
  m.Put<int32_t>(r + kDepth, 8);
  m.Put<int32_t>(r + kImageHRes, 72 << 16);
  m.Put<int32_t>(r + kImageVRes, 72 << 16);
  m.Put<int32_t>(r + kMaxSpace, 1 << 30);
  m.Put<uint32_t>(r + kHostSig, 0x474D4F53);
  m.Put<int16_t>(r + kInTileWidth, options.tileWidth);
  m.Put<int16_t>(r + kOutTileWidth, options.tileWidth);
  m.Put<int16_t>(r + kInTileHeight, options.tileHeight);
  m.Put<int16_t>(r + kOutTileHeight, options.tileHeight);
  m.Put<uint8_t>(r + kSupportsPadding, 1);
  if (options.bigDocument) {
    run.big = m.Allocate(kBigDocumentBytes, true);
    m.Put(run.big + kImageSize32, VPoint{image.height, image.width});
    m.Put(run.big + kWholeSize32, VPoint{image.height, image.width});
    m.Put(run.big + kFilterRect32, filter);
    m.Put<uint32_t>(r + kBigDocumentData, run.big);
  }

  run_ = &run;
  struct Finish {
    EmulatedProcess* process;
    ~Finish() { process->run_ = nullptr; }
  } finish{this};
  auto call = [&](int16_t selector) {
    report.result = CallEntry(selector, r);
    report.lastSelector = selector;
    return report.result == 0;
  };
  lastRecord = RecordState{};
  if (!call(filterSelectorParameters) || !call(filterSelectorPrepare)) return report;
  lastRecord.maxSpace = m.Get<int32_t>(r + kMaxSpace);
  lastRecord.bufferSpace = m.Get<int32_t>(r + kBufferSpace);
  const bool started = call(filterSelectorStart);
  WriteBack(run);
  if (!started || report.hostError != 0) return report;
  while (report.continueCalls < kContinueLimit) {
    const VRect out = OutRect(run);
    if (out.top == out.bottom || out.left == out.right) break;
    if (Deliver(run) != 0) return report;
    ++report.continueCalls;
    const bool ok = call(filterSelectorContinue);
    WriteBack(run);
    if (!ok) return report;
  }
  call(filterSelectorFinish);
  lastRecord.used32 = run.big && m.Get<int32_t>(run.big + kUsing32) != 0;
  lastRecord.untouchedFieldsZero = m.Get<uint64_t>(r + kInRect) == 0 && m.Get<uint64_t>(r + kMaskRect) == 0 &&
                                   m.Get<uint32_t>(r + kFloatCoord) == 0 && m.Get<uint32_t>(r + kInData) == 0;
  m.Free(r);
  if (run.big) m.Free(run.big);
  return report;
}

}  // namespace gm::win32
