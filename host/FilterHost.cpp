#include "host/FilterHost.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace gm::host {

namespace {

constexpr uint8_t kPaddingCanary = 0xA5;
constexpr int32_t kContinueLimit = 1 << 20;  // a plug-in that never stops asking is cut off
constexpr Fixed kScreenResolution = 72 << 16;  // 72 pixels per inch, 16.16 fixed point
// Room the host claims to have for the plug-in's buffers; the module asks for none.
constexpr int32_t kMaxSpace = 1 << 30;
constexpr uint32_t kHostSignature = 0x474D4F53;  // 'GMOS'

FilterHost* activeHost = nullptr;

int16_t Clamp16(int32_t v) { return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX)); }
Rect ToRect16(VRect r) { return Rect{Clamp16(r.top), Clamp16(r.left), Clamp16(r.bottom), Clamp16(r.right)}; }
Point ToPoint16(VPoint p) { return Point{Clamp16(p.v), Clamp16(p.h)}; }

}  // namespace

// The record the plug-in sees, with the zeroed tail that later hosts append.
struct FilterHost::RunState {
  struct {
    FilterRecord record;
    uint8_t tail[512];
  } storage{};
  BigDocumentStruct big{};
  Image* image = nullptr;
  const RunOptions* options = nullptr;
  RunReport* report = nullptr;
  std::vector<uint8_t> buffer;
  std::optional<Delivery> delivered;
  int32_t planesTold = 0;  // the planes the record says the image has

  FilterRecord& Record() { return storage.record; }
  bool Uses32Bit() { return Record().bigDocumentData && big.PluginUsing32BitCoordinates != 0; }
  VRect OutRect() {
    if (Uses32Bit()) return big.outRect32;
    const Rect& r = Record().outRect;
    return VRect{r.top, r.left, r.bottom, r.right};
  }
};

// The host a callback or the basic suite reaches is the one running a phase,
// for as long as it runs; the one before comes back after it, should a
// callback run another module.
struct FilterHost::Active {
  Active(FilterHost* host, RunState* run) : host_(host), previous_(activeHost), previousRun_(host->run_) {
    activeHost = host;
    host->run_ = run;
  }
  ~Active() {
    host_->run_ = previousRun_;
    activeHost = previous_;
  }
  Active(const Active&) = delete;
  Active& operator=(const Active&) = delete;

 private:
  FilterHost* host_;
  FilterHost* previous_;
  RunState* previousRun_;
};

struct FilterHost::Callbacks {
  static RunState* Run() { return activeHost ? activeHost->run_ : nullptr; }

  static Boolean Abort() {
    RunState* s = Run();
    if (!s) return 0;
    ++s->report->abortPolls;
    return s->options->abort && s->options->abort() ? 1 : 0;
  }
  // The module's total is tile rows x the planes it was told of, though it
  // steps once per tile row (what hosts have always been given): scaled back
  // here, once, for every front end.
  static void Progress(int32_t done, int32_t total) {
    RunState* s = Run();
    if (!s) return;
    ++s->report->progressCalls;
    if (s->options->progress && total > 0) {
      s->options->progress(std::clamp(static_cast<double>(done) * s->planesTold / total, 0.0, 1.0));
    }
  }
  static OSErr AdvanceState() {
    RunState* s = Run();
    if (!s) return paramErr;
    activeHost->WriteBack(*s);
    return activeHost->Deliver(*s);
  }

  // No named suites: a host that serves some passes a basic suite of its own.
  static int32_t AcquireSuite(const char*, int32_t, const void**) { return kSuiteNotFound; }
  static int32_t ReleaseSuite(const char*, int32_t) { return noErr; }
  static int32_t IsEqual(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
  static int32_t AllocateBlock(size_t size, void** block) {
    return activeHost ? activeHost->blocks_.Allocate(size, block) : memFullErr;
  }
  static int32_t FreeBlock(void* block) {
    if (!block) return noErr;
    return activeHost ? activeHost->blocks_.Free(block) : paramErr;
  }
  static int32_t ReallocateBlock(void* block, size_t size, void** fresh) {
    return activeHost ? activeHost->blocks_.Reallocate(block, size, fresh) : paramErr;
  }
  static int32_t Undefined() { return paramErr; }

  static SPBasicSuite* Table() {
    static SPBasicSuite table{AcquireSuite, ReleaseSuite, IsEqual, AllocateBlock, FreeBlock, ReallocateBlock,
                              Undefined};
    return &table;
  }
};

std::string DescribeResult(int code) {
  static constexpr std::pair<OSErr, const char*> kNames[] = {
      {noErr, "noErr"},       {filterBadParameters, "filterBadParameters"}, {userCanceledErr, "userCanceledErr"},
      {paramErr, "paramErr"}, {memFullErr, "memFullErr"},
  };
  const auto* named =
      std::find_if(std::begin(kNames), std::end(kNames), [&](const auto& n) { return n.first == code; });
  return std::to_string(code) + (named == std::end(kNames) ? "" : std::string(" (") + named->second + ")");
}

std::string DescribeFailure(const RunReport& report) {
  if (report.hostError != noErr) {
    return "the host refused the filter's request, result " + DescribeResult(report.hostError);
  }
  if (report.result != noErr) return "the filter reported result " + DescribeResult(report.result);
  return {};
}

FilterHost::FilterHost(PluginEntry entry) : entry_(entry) {}

FilterHost::~FilterHost() = default;

void FilterHost::Call(int16_t selector, void* record, RunReport& report) {
  int16_t result = noErr;
  entry_(selector, record, &data_, &result);
  report.result = result;
  report.lastSelector = selector;
}

int16_t FilterHost::About() {
  AboutRecord record{};
  record.sSPBasic = Callbacks::Table();
  RunReport report;
  const Active active(this, nullptr);
  Call(filterSelectorAbout, &record, report);
  return report.result;
}

OSErr FilterHost::Deliver(RunState& s) {
  FilterRecord& rec = s.Record();
  rec.outData = nullptr;
  rec.outRowBytes = 0;
  const VRect r = s.OutRect();
  const int16_t lo = rec.outLoPlane;
  const int16_t hi = rec.outHiPlane;
  const Image& image = *s.image;
  const bool inside = r.top >= 0 && r.left >= 0 && r.top <= r.bottom && r.left <= r.right &&
                      r.bottom <= image.height && r.right <= image.width;
  const bool planesOk = lo >= 0 && lo <= hi && hi < image.channels;
  if (!inside || !planesOk) {
    s.report->hostError = paramErr;
    return paramErr;
  }
  if (r.top == r.bottom || r.left == r.right) return noErr;

  // A real host points into its own tile memory; so does this one when the
  // image's rows are what was asked for. Padding and a subset of the planes
  // need a buffer of their own.
  if (image.channels == 3 && lo == 0 && hi == 2 && s.options->rowPadding == 0) {
    const auto stride = static_cast<int32_t>(image.RowBytes());
    rec.outData = s.image->At(r.left, r.top);
    rec.outRowBytes = stride;
    s.delivered = Delivery{r, lo, hi, stride, true};
    s.report->deliveries.push_back(*s.delivered);
    return noErr;
  }

  const size_t planes = static_cast<size_t>(hi - lo + 1);
  const size_t width = static_cast<size_t>(r.right - r.left);
  const size_t height = static_cast<size_t>(r.bottom - r.top);
  const size_t pixelBytes = width * planes;
  const size_t stride = pixelBytes + static_cast<size_t>(std::max(0, s.options->rowPadding));
  s.buffer.assign(stride * height, kPaddingCanary);
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* src = image.At(r.left, r.top + static_cast<int32_t>(y)) + lo;
    uint8_t* dst = s.buffer.data() + y * stride;
    for (size_t x = 0; x < width; ++x, src += image.channels, dst += planes) std::memcpy(dst, src, planes);
  }
  rec.outData = s.buffer.data();
  rec.outRowBytes = static_cast<int32_t>(stride);
  s.delivered = Delivery{r, lo, hi, static_cast<int32_t>(stride), false};
  s.report->deliveries.push_back(*s.delivered);
  return noErr;
}

void FilterHost::WriteBack(RunState& s) {
  if (!s.delivered) return;
  const Delivery d = *s.delivered;
  s.delivered.reset();
  if (d.inPlace) return;
  const size_t planes = static_cast<size_t>(d.hiPlane - d.loPlane + 1);
  const size_t width = static_cast<size_t>(d.rect.right - d.rect.left);
  const size_t height = static_cast<size_t>(d.rect.bottom - d.rect.top);
  const size_t stride = static_cast<size_t>(d.rowBytes);
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* src = s.buffer.data() + y * stride;
    uint8_t* dst = s.image->At(d.rect.left, d.rect.top + static_cast<int32_t>(y)) + d.loPlane;
    for (size_t x = 0; x < width; ++x, dst += s.image->channels, src += planes) std::memcpy(dst, src, planes);
    for (size_t i = width * planes; i < stride; ++i) {
      if (s.buffer[y * stride + i] != kPaddingCanary) ++s.report->paddingBytesTouched;
    }
  }
}

RunReport FilterHost::Run(Image& image, const RunOptions& options) {
  RunReport report;
  const VRect whole{0, 0, image.height, image.width};
  const VRect filter = options.filterRect.value_or(whole);
  const bool filterInside = filter.top >= 0 && filter.left >= 0 && filter.top <= filter.bottom &&
                            filter.left <= filter.right && filter.bottom <= image.height &&
                            filter.right <= image.width;
  const bool sizeOk = image.width >= 0 && image.height >= 0 && (image.channels == 3 || image.channels == 4) &&
                      image.pixels.size() == static_cast<size_t>(image.width) * image.height * image.channels;
  const bool fits16 = image.width <= INT16_MAX && image.height <= INT16_MAX;
  if (!filterInside || !sizeOk || (!options.bigDocument && !fits16)) {
    report.hostError = paramErr;
    return report;
  }

  auto state = std::make_unique<RunState>();
  state->image = &image;
  state->options = &options;
  state->report = &report;
  FilterRecord& rec = state->Record();
  const bool selection = options.filterRect.has_value();
  const bool layer = image.channels == 4 && options.alphaIsTransparency;
  rec.abortProc = &Callbacks::Abort;
  rec.progressProc = &Callbacks::Progress;
  rec.advanceState = &Callbacks::AdvanceState;
  rec.sSPBasic = options.basicSuite ? options.basicSuite : Callbacks::Table();
  rec.imageSize = ToPoint16(VPoint{image.height, image.width});
  rec.wholeSize = rec.imageSize;
  rec.planes = static_cast<int16_t>(image.channels);
  rec.filterRect = ToRect16(filter);
  rec.filterCase = layer ? (selection ? filterCaseEditableTransparencyWithSelection
                                     : filterCaseEditableTransparencyNoSelection)
                         : (selection ? filterCaseFlatImageWithSelection : filterCaseFlatImageNoSelection);
  if (layer) {
    rec.inLayerPlanes = rec.outLayerPlanes = 3;
    rec.inTransparencyMask = rec.outTransparencyMask = 1;
  }
  state->planesTold = layer ? rec.outLayerPlanes : rec.planes;
  rec.imageMode = kImageModeRGB;
  rec.depth = 8;
  rec.imageHRes = rec.imageVRes = kScreenResolution;
  rec.maxSpace = kMaxSpace;
  rec.hostSig = kHostSignature;
  rec.inTileWidth = rec.outTileWidth = options.tileWidth;
  rec.inTileHeight = rec.outTileHeight = options.tileHeight;
  rec.supportsPadding = 1;
  if (options.bigDocument) {
    state->big.imageSize32 = VPoint{image.height, image.width};
    state->big.wholeSize32 = state->big.imageSize32;
    state->big.filterRect32 = filter;
    rec.bigDocumentData = &state->big;
  }

  const Active active(this, state.get());

  Call(filterSelectorParameters, &rec, report);
  if (report.result != noErr) return report;
  Call(filterSelectorPrepare, &rec, report);
  if (report.result != noErr) return report;
  Call(filterSelectorStart, &rec, report);
  WriteBack(*state);
  if (report.result != noErr || report.hostError != noErr) return report;

  while (report.continueCalls < kContinueLimit) {
    const VRect r = state->OutRect();
    if (r.top == r.bottom || r.left == r.right) break;
    if (Deliver(*state) != noErr) return report;
    ++report.continueCalls;
    Call(filterSelectorContinue, &rec, report);
    WriteBack(*state);
    if (report.result != noErr) return report;
  }
  Call(filterSelectorFinish, &rec, report);
  return report;
}

}  // namespace gm::host
