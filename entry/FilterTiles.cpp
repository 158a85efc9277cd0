#include <cstdint>

#include "entry/Coordinates.h"
#include "entry/Entry.h"
#include "fit/FitGlyphs.h"
#include "fit/GlyphTable.h"

namespace {

void Report(OSErr code) {
  if (hostResult) *hostResult = code;
}

int32_t SaturatedInt32(int64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v); }

}  // namespace

// The Start phase: the whole filter, one host tile at a time.
void FilterTiles() {
  FilterRecord* record = hostFilterRecord;
  if (!record) {
    Report(filterBadParameters);
    return;
  }
  const int16_t tileHeight = static_cast<int16_t>(record->outTileHeight / kGlyphHeight * kGlyphHeight);
  const int16_t tileWidth = static_cast<int16_t>(record->outTileWidth / kGlyphWidth * kGlyphWidth);
  if (tileWidth <= 0 || tileHeight <= 0 || !record->advanceState) {
    Report(filterBadParameters);
    return;
  }

  const VRect filter = GetFilterRect();
  const int64_t filterHeight = int64_t{filter.bottom} - filter.top;
  const int64_t filterWidth = int64_t{filter.right} - filter.left;
  const int16_t planeCount = record->filterCase < filterCaseFloatingSelection ? record->planes : record->outLayerPlanes;
  // A reversed rectangle would hand the kernel a negative extent, and fewer
  // than three planes would let it run past the host's buffer: refuse both
  // before anything in the record changes.
  if (filterHeight < 0 || filterWidth < 0 || filterHeight > INT32_MAX || filterWidth > INT32_MAX ||
      planeCount < kBytesPerPixel) {
    Report(filterBadParameters);
    return;
  }

  // 32-bit counters: a 16-bit one would never reach more than 65,535 tiles.
  // The total is tile rows × planes although progress steps once per tile
  // row: that is what this filter has always told hosts, so a host's bar
  // ends at 1/planes. Kept on purpose, for hosts and recorded runs that
  // expect those exact calls; the command-line tool scales it back.
  const int64_t tileRows = (filterHeight + tileHeight - 1) / tileHeight;
  const int64_t tileColumns = (filterWidth + tileWidth - 1) / tileWidth;
  const int32_t progressTotal = SaturatedInt32(tileRows * planeCount);
  int32_t rowsDone = 0;

  // Only the colour planes: any further plane (an alpha channel) stays as it is.
  record->outLoPlane = 0;
  record->outHiPlane = kBytesPerPixel - 1;

  for (int64_t r = 0; r < tileRows; ++r) {
    const int64_t top = filter.top + r * tileHeight;
    const int64_t bottom = top + tileHeight < filter.bottom ? top + tileHeight : filter.bottom;
    for (int64_t k = 0; k < tileColumns; ++k) {
      const int64_t left = filter.left + k * tileWidth;
      const int64_t right = left + tileWidth < filter.right ? left + tileWidth : filter.right;
      SetOutRect(VRect{static_cast<int32_t>(top), static_cast<int32_t>(left), static_cast<int32_t>(bottom),
                       static_cast<int32_t>(right)});

      const OSErr err = record->advanceState();
      Report(err);
      if (err != noErr) return;

      const VRect out = GetOutRect();
      const int64_t outHeight = int64_t{out.bottom} - out.top;
      const int64_t outWidth = int64_t{out.right} - out.left;
      if (outHeight <= 0 || outWidth <= 0) continue;
      // A host that delivers no buffer, or rows shorter than the pixels
      // they must hold, cannot be filtered safely.
      const int64_t rowBytes = record->outRowBytes;
      if (!record->outData || (outHeight > 1 && (rowBytes < 0 ? -rowBytes : rowBytes) < outWidth * kBytesPerPixel)) {
        Report(filterBadParameters);
        return;
      }
      FitGlyphs(static_cast<uint8_t*>(record->outData), static_cast<uint32_t>(outWidth), static_cast<uint32_t>(outHeight),
                record->outRowBytes);
    }

    ++rowsDone;
    if (record->progressProc) record->progressProc(rowsDone, progressTotal);
    if (record->abortProc && record->abortProc()) {
      Report(userCanceledErr);
      break;
    }
  }

  SetOutRect(VRect{0, 0, 0, 0});
}
