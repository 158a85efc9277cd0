// The entry point under a hostile host. The input picks the selector
// sequence, the record's fields and everything advanceState does: error
// codes, rectangles other than the one asked for, odd, short or negative row
// strides, missing buffers, a coordinate flag switched mid-run. Every buffer
// is allocated to exactly the size the host reports, and freed at the next
// advanceState as a host would, so AddressSanitizer sees any access beyond
// what was delivered. The properties below hold the plug-in to the result
// codes it may leave, the tiles and planes it may ask for, and the pixels it
// must produce.
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "entry/Entry.h"
#include "entry/Platform.h"
#include "fit/FitPlain.h"
#include "fuzz/ByteReader.h"
#include "fuzz/Check.h"

namespace {

using gm::fuzz::ByteReader;

// Bounds that keep one input to milliseconds.
constexpr int kMaxCalls = 8;
constexpr int kMaxDeliveries = 48;
constexpr int kMaxAbortPolls = 2048;
constexpr int64_t kMaxTilePixels = 16384;
constexpr int64_t kMaxRunPixels = 65536;
constexpr int64_t kMaxBufferBytes = int64_t{1} << 20;
// Without an abort callback nothing can stop a run over a tall, empty
// rectangle, so the fake host keeps 32-bit coordinates in this range then.
constexpr int32_t kCoordinateLimitWithoutAbort = 1 << 20;

struct RecordStorage {
  FilterRecord record;
  uint8_t tail[256];
};

bool Uses32(const FilterRecord& rec) {
  return rec.bigDocumentData && rec.bigDocumentData->PluginUsing32BitCoordinates != 0;
}

VRect Widen(Rect r) { return VRect{r.top, r.left, r.bottom, r.right}; }
Rect Narrow(VRect r) {
  return Rect{static_cast<int16_t>(r.top), static_cast<int16_t>(r.left), static_cast<int16_t>(r.bottom),
              static_cast<int16_t>(r.right)};
}
bool Equal(VRect a, VRect b) { return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right; }

VRect OutRectInUse(const FilterRecord& rec) {
  return Uses32(rec) ? rec.bigDocumentData->outRect32 : Widen(rec.outRect);
}

int32_t Coordinate(ByteReader& in) {
  switch (in.Range(0, 7)) {
    case 0: return static_cast<int32_t>(in.Range(0, 400));
    case 1: return static_cast<int32_t>(in.Range(-40, 40));
    case 2: return static_cast<int32_t>(in.Range(32700, 32800));
    case 3: return in.Bool() ? INT32_MAX - static_cast<int32_t>(in.Range(0, 100)) : INT32_MIN + static_cast<int32_t>(in.Range(0, 100));
    case 4: return in.Read<int16_t>();
    case 5: return in.Read<int32_t>();
    default: return static_cast<int32_t>(in.Range(0, 2000));
  }
}

VRect RectFrom(ByteReader& in) {
  VRect r;
  r.top = Coordinate(in);
  r.left = Coordinate(in);
  // Mostly ordered, near the corner, as real selections are.
  r.bottom = in.Bool() ? Coordinate(in) : static_cast<int32_t>(std::min<int64_t>(INT32_MAX, int64_t{r.top} + in.Range(0, 300)));
  r.right = in.Bool() ? Coordinate(in) : static_cast<int32_t>(std::min<int64_t>(INT32_MAX, int64_t{r.left} + in.Range(0, 300)));
  return r;
}

int16_t TileSide(ByteReader& in) {
  switch (in.Range(0, 3)) {
    case 0: return static_cast<int16_t>(in.Range(0, 130));
    case 1: return in.Read<int16_t>();
    default: return static_cast<int16_t>(in.Range(8, 300));
  }
}

int16_t PlaneCount(ByteReader& in) { return in.Range(0, 7) == 0 ? in.Read<int16_t>() : static_cast<int16_t>(in.Range(-1, 6)); }

int32_t Clamp(int32_t v, int32_t limit) { return std::clamp(v, -limit, limit); }

// A short run of input bytes, repeated over the buffer, so that a large
// tile leaves input for the decisions that follow it.
void FillPixels(ByteReader& in, uint8_t* bytes, size_t size) {
  uint8_t pattern[256];
  const size_t n = static_cast<size_t>(in.Range(0, sizeof pattern));
  in.Fill({pattern, n});
  for (size_t i = 0; i < size; ++i) bytes[i] = n ? pattern[i % n] : static_cast<uint8_t>(i * 37 + i / 97);
}

// One buffer as delivered, with what it held, so that when it is taken back
// the host can tell what the plug-in did to it.
struct Delivery {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
  size_t origin = 0;  // offset of outData in the allocation
  VRect rect{};
  int32_t rowBytes = 0;
  bool filterable = false;
  std::vector<uint8_t> before;
};

struct Host {
  ByteReader* in = nullptr;
  FilterRecord* rec = nullptr;

  // One Start phase.
  VRect filterAtStart{};
  int32_t tileHeight = 0, tileWidth = 0;
  int64_t tileColumns = 0;
  int deliveries = 0;
  int64_t pixelsDelivered = 0;
  int abortPolls = 0;
  int progressCalls = 0;
  int32_t lastDone = 0, total = 0;
  bool stopped = false;  // the plug-in must make no further callback
  OSErr stopCode = noErr;
  bool refusedBuffer = false;
  bool cancelled = false;
  bool tilesTampered = false;
  bool planesTampered = false;
  std::optional<Delivery> current;

  void BeginStart() {
    deliveries = 0;
    pixelsDelivered = 0;
    abortPolls = progressCalls = 0;
    lastDone = total = 0;
    stopped = refusedBuffer = cancelled = tilesTampered = planesTampered = false;
    stopCode = noErr;
    current.reset();
  }

  // Takes the last buffer back: the pixels must be the plain kernel's output
  // when the plug-in had to filter it, untouched otherwise, and every byte
  // outside the pixels untouched in any case.
  void TakeBack() {
    if (!current) return;
    Delivery& d = *current;
    std::vector<uint8_t> expected = d.before;
    if (d.filterable) {
      const uint32_t width = static_cast<uint32_t>(d.rect.right) - static_cast<uint32_t>(d.rect.left);
      const uint32_t height = static_cast<uint32_t>(d.rect.bottom) - static_cast<uint32_t>(d.rect.top);
      FitGlyphsPlain(expected.data() + d.origin, width, height, d.rowBytes);
    }
    GM_FUZZ_CHECK(d.size == 0 || std::memcmp(expected.data(), d.bytes.get(), d.size) == 0);
    current.reset();
  }

  OSErr Stop(OSErr code) {
    stopped = true;
    stopCode = code;
    return code;
  }

  OSErr Advance();
};

Host* host = nullptr;

OSErr Host::Advance() {
  GM_FUZZ_CHECK(!stopped);
  TakeBack();
  FilterRecord& r = *rec;
  const VRect requested = OutRectInUse(r);
  if (!planesTampered) GM_FUZZ_CHECK(r.outLoPlane == 0 && r.outHiPlane == 2);
  if (!tilesTampered) {
    GM_FUZZ_CHECK(tileColumns > 0);
    const int64_t row = deliveries / tileColumns, column = deliveries % tileColumns;
    const int64_t top = filterAtStart.top + row * tileHeight, left = filterAtStart.left + column * tileWidth;
    const VRect tile{static_cast<int32_t>(top), static_cast<int32_t>(left),
                     static_cast<int32_t>(std::min<int64_t>(top + tileHeight, filterAtStart.bottom)),
                     static_cast<int32_t>(std::min<int64_t>(left + tileWidth, filterAtStart.right))};
    GM_FUZZ_CHECK(Equal(requested, tile));
  }
  if (++deliveries > kMaxDeliveries) return Stop(memFullErr);

  ByteReader& input = *in;
  const int action = static_cast<int>(input.Range(0, 15));
  if (action == 1) {
    OSErr code = input.Read<int16_t>();
    return Stop(code == noErr ? OSErr{-1} : code);
  }

  VRect delivered = requested;
  if (action == 2) {  // nudged sides, possibly reversed
    for (int32_t* side : {&delivered.top, &delivered.left, &delivered.bottom, &delivered.right}) {
      *side = static_cast<int32_t>(std::clamp<int64_t>(*side + input.Range(-16, 16), INT32_MIN, INT32_MAX));
    }
  } else if (action == 3) {  // somewhere else entirely
    delivered = RectFrom(input);
  } else if (action == 4) {
    delivered.bottom = delivered.top;
  }

  // Hostile changes to the record between tiles.
  if (action == 5) {
    if (r.bigDocumentData) {
      r.bigDocumentData->PluginUsing32BitCoordinates = input.Bool() ? 0 : input.Read<int32_t>();
      tilesTampered = true;
    }
  } else if (action == 6) {
    r.outLoPlane = input.Read<int16_t>();
    r.outHiPlane = input.Read<int16_t>();
    planesTampered = true;
  } else if (action == 7) {
    // Read once at the start: changing them now must not change the tiles.
    r.outTileHeight = TileSide(input);
    r.outTileWidth = TileSide(input);
    r.planes = PlaneCount(input);
    r.filterCase = PlaneCount(input);
    r.filterRect = Narrow(RectFrom(input));
    if (r.bigDocumentData) r.bigDocumentData->filterRect32 = RectFrom(input);
  }

  r.outRect = Narrow(delivered);
  if (r.bigDocumentData) r.bigDocumentData->outRect32 = delivered;
  const VRect seen = OutRectInUse(r);
  const int64_t height = int64_t{seen.bottom} - seen.top;
  const int64_t width = int64_t{seen.right} - seen.left;

  int32_t stride = 0;
  const int64_t pixelsRow = width > 0 ? 3 * width : 0;
  const int64_t pad = input.Range(1, 17);
  switch (input.Range(0, 11)) {
    case 1: stride = static_cast<int32_t>(std::min<int64_t>(INT32_MAX, pixelsRow + pad)); break;
    case 2: stride = static_cast<int32_t>(std::min<int64_t>(INT32_MAX, 4 * std::max<int64_t>(width, 0))); break;
    case 3: stride = static_cast<int32_t>(std::max<int64_t>(0, pixelsRow - pad)); break;
    case 4: stride = static_cast<int32_t>(-std::min<int64_t>(INT32_MAX, pixelsRow + (input.Bool() ? pad : 0))); break;
    case 5: stride = static_cast<int32_t>(-std::max<int64_t>(0, pixelsRow - pad)); break;
    case 6: stride = input.Read<int32_t>(); break;
    case 7: stride = 0; break;
    default: stride = static_cast<int32_t>(std::min<int64_t>(INT32_MAX, pixelsRow)); break;
  }
  const bool nullData = input.Range(0, 15) == 0;

  Delivery d;
  d.rect = seen;
  d.rowBytes = stride;
  if (height > 0 && width > 0) {
    if (height > kMaxTilePixels || width > kMaxTilePixels || height * width > kMaxTilePixels ||
        pixelsDelivered + height * width > kMaxRunPixels) {
      return Stop(memFullErr);
    }
    const int64_t absStride = stride < 0 ? -int64_t{stride} : stride;
    const int64_t span = (height - 1) * absStride + 3 * width;
    if (span > kMaxBufferBytes) return Stop(memFullErr);
    pixelsDelivered += height * width;
    d.size = static_cast<size_t>(span);
    d.origin = stride < 0 ? static_cast<size_t>((height - 1) * absStride) : 0;
    d.filterable = !nullData && (height == 1 || absStride >= 3 * width);
    if (!d.filterable) {
      refusedBuffer = true;
      stopped = true;  // -30100 and nothing more
    }
  }
  d.bytes = std::make_unique<uint8_t[]>(d.size);
  FillPixels(input, d.bytes.get(), d.size);
  d.before.assign(d.bytes.get(), d.bytes.get() + d.size);
  r.outData = nullData ? nullptr : d.bytes.get() + d.origin;
  r.outRowBytes = stride;
  current = std::move(d);
  return noErr;
}

OSErr FakeAdvanceState() { return host->Advance(); }

void FakeProgress(int32_t done, int32_t total) {
  Host& h = *host;
  GM_FUZZ_CHECK(!h.stopped);
  GM_FUZZ_CHECK(done == h.lastDone + 1);
  if (h.progressCalls > 0) GM_FUZZ_CHECK(total == h.total);
  ++h.progressCalls;
  h.lastDone = done;
  h.total = total;
}

Boolean FakeAbort() {
  Host& h = *host;
  GM_FUZZ_CHECK(!h.stopped);
  const bool cancel = ++h.abortPolls >= kMaxAbortPolls || h.in->Range(0, 15) == 15;
  if (cancel) {
    h.cancelled = true;
    h.stopped = true;
  }
  return cancel;
}

void IgnoreMessage(const char*, const char*) {}

void ConfigureRecord(ByteReader& in, FilterRecord& rec, BigDocumentStruct* big, SPBasicSuite* suite) {
  rec.outTileHeight = TileSide(in);
  rec.outTileWidth = TileSide(in);
  rec.planes = PlaneCount(in);
  rec.outLayerPlanes = PlaneCount(in);
  rec.filterCase = static_cast<int16_t>(in.Range(0, 7) == 0 ? in.Read<int16_t>() : in.Range(-1, 5));
  const VRect filter = RectFrom(in);
  rec.filterRect = in.Range(0, 7) == 0 ? Narrow(RectFrom(in)) : Narrow(filter);
  rec.outRect = Narrow(RectFrom(in));
  rec.outLoPlane = in.Read<int16_t>();
  rec.outHiPlane = in.Read<int16_t>();
  rec.outData = nullptr;
  rec.outRowBytes = 0;
  rec.abortProc = in.Range(0, 15) == 0 ? nullptr : FakeAbort;
  rec.progressProc = in.Range(0, 15) == 0 ? nullptr : FakeProgress;
  rec.advanceState = in.Range(0, 15) == 0 ? nullptr : FakeAdvanceState;
  rec.sSPBasic = in.Bool() ? suite : nullptr;
  rec.bigDocumentData = in.Range(0, 3) == 0 ? nullptr : big;
  big->PluginUsing32BitCoordinates = in.Read<int32_t>();
  big->filterRect32 = filter;
  if (!rec.abortProc) {
    big->filterRect32 = VRect{Clamp(filter.top, kCoordinateLimitWithoutAbort), Clamp(filter.left, kCoordinateLimitWithoutAbort),
                              Clamp(filter.bottom, kCoordinateLimitWithoutAbort),
                              Clamp(filter.right, kCoordinateLimitWithoutAbort)};
  }
  big->outRect32 = RectFrom(in);
}

int16_t Selector(ByteReader& in) {
  switch (in.Range(0, 11)) {
    case 0: return filterSelectorAbout;
    case 1: return filterSelectorParameters;
    case 2: return filterSelectorPrepare;
    case 4: return filterSelectorContinue;
    case 5: return filterSelectorFinish;
    case 6: return in.Read<int16_t>();
    default: return filterSelectorStart;
  }
}

// What the Start phase must leave, decided from the record as it was on entry
// and from what the fake host did.
void CheckStart(Host& h, const FilterRecord& rec, bool guardExpected, OSErr preset, OSErr result,
                const std::vector<uint8_t>& before, const RecordStorage& after) {
  if (guardExpected) {
    GM_FUZZ_CHECK(result == filterBadParameters);
    GM_FUZZ_CHECK(h.deliveries == 0 && h.progressCalls == 0 && h.abortPolls == 0);
    GM_FUZZ_CHECK(std::memcmp(before.data(), &after, before.size()) == 0);
    return;
  }
  GM_FUZZ_CHECK((rec.outLoPlane == 0 && rec.outHiPlane == 2) || h.planesTampered);
  if (h.stopCode != noErr) {
    GM_FUZZ_CHECK(result == h.stopCode);
  } else if (h.refusedBuffer) {
    GM_FUZZ_CHECK(result == filterBadParameters);
  } else {
    GM_FUZZ_CHECK(result == (h.cancelled ? userCanceledErr : h.deliveries > 0 ? noErr : preset));
    const VRect out = OutRectInUse(rec);
    GM_FUZZ_CHECK(Equal(out, VRect{0, 0, 0, 0}));
  }
}

bool StartGuardExpected(const FilterRecord& rec) {
  const int tileHeight = rec.outTileHeight / 12 * 12;
  const int tileWidth = rec.outTileWidth / 8 * 8;
  const VRect filter = rec.bigDocumentData ? rec.bigDocumentData->filterRect32 : Widen(rec.filterRect);
  const int64_t height = int64_t{filter.bottom} - filter.top;
  const int64_t width = int64_t{filter.right} - filter.left;
  const int planes = rec.filterCase < filterCaseFloatingSelection ? rec.planes : rec.outLayerPlanes;
  return tileHeight <= 0 || tileWidth <= 0 || !rec.advanceState || height < 0 || width < 0 || height > INT32_MAX ||
         width > INT32_MAX || planes < 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  SetPlatformMessageSink(IgnoreMessage);

  auto storage = std::make_unique<RecordStorage>();
  auto big = std::make_unique<BigDocumentStruct>();
  auto about = std::make_unique<AboutRecord>();
  auto suite = std::make_unique<SPBasicSuite>();
  auto dataSlot = std::make_unique<intptr_t>(0);
  auto result = std::make_unique<int16_t>(0);
  FilterRecord& rec = storage->record;
  about->sSPBasic = in.Bool() ? suite.get() : nullptr;

  Host h;
  h.in = &in;
  h.rec = &rec;
  host = &h;
  ConfigureRecord(in, rec, big.get(), suite.get());

  const int calls = static_cast<int>(in.Range(1, kMaxCalls));
  for (int call = 0; call < calls; ++call) {
    if (call > 0 && in.Range(0, 3) == 0) ConfigureRecord(in, rec, big.get(), suite.get());
    const int16_t selector = Selector(in);
    const OSErr preset = in.Read<int16_t>();
    const bool nullRecord = in.Range(0, 31) == 0;
    *result = preset;

    if (selector == filterSelectorAbout) {
      PluginMain(selector, nullRecord ? nullptr : about.get(), dataSlot.get(), result.get());
      GM_FUZZ_CHECK(*result == preset);
      continue;
    }
    void* record = nullRecord ? nullptr : &rec;
    if (selector != filterSelectorStart) {
      PluginMain(selector, record, dataSlot.get(), result.get());
      if (selector < 0 || selector > filterSelectorFinish) {
        GM_FUZZ_CHECK(*result == filterBadParameters);
      } else {
        GM_FUZZ_CHECK(*result == preset);
      }
      if (record && rec.bigDocumentData) GM_FUZZ_CHECK(big->PluginUsing32BitCoordinates == 1);
      if (record && selector == filterSelectorPrepare) GM_FUZZ_CHECK(rec.bufferSpace == 0 && rec.maxSpace == 0);
      if (record && selector == filterSelectorContinue) GM_FUZZ_CHECK(Equal(OutRectInUse(rec), VRect{0, 0, 0, 0}));
      continue;
    }

    h.BeginStart();
    if (!nullRecord) {
      if (rec.bigDocumentData) big->PluginUsing32BitCoordinates = 1;  // as PluginMain will set it
      h.filterAtStart = rec.bigDocumentData ? big->filterRect32 : Widen(rec.filterRect);
      h.tileHeight = rec.outTileHeight / 12 * 12;
      h.tileWidth = rec.outTileWidth / 8 * 8;
      h.tileColumns = h.tileWidth > 0 ? (int64_t{h.filterAtStart.right} - h.filterAtStart.left + h.tileWidth - 1) /
                                            h.tileWidth
                                      : 0;
    }
    const bool guardExpected = nullRecord || StartGuardExpected(rec);
    // Byte for byte, padding included: a refused Start changes nothing.
    std::vector<uint8_t> before(sizeof(RecordStorage));
    std::memcpy(before.data(), storage.get(), before.size());
    PluginMain(selector, record, dataSlot.get(), result.get());
    h.TakeBack();
    if (nullRecord) {
      GM_FUZZ_CHECK(*result == filterBadParameters);
      continue;
    }
    CheckStart(h, rec, guardExpected, preset, *result, before, *storage);
  }
  host = nullptr;
  return 0;
}
