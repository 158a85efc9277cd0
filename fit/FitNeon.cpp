// NEON variant, the baseline of every 64-bit ARM processor: structured loads
// and stores split and rebuild the R, G, B samples, so thresholding and
// drawing need no shuffles.
#include <arm_neon.h>

#include "fit/FitCells.h"
#include "fit/Variants.h"

namespace {

// Bit j of each 8-lane half: the weights that turn a lane mask into row bytes.
const uint8x16_t kLaneBits = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};

// Lane mask of 8 pixels whose samples are split into r, g, b: 0xFF where
// 3R + 6G + B >= 1280, that is where the sum's high byte is at least 5.
uint8x8_t Light8(uint8x8_t r, uint8x8_t g, uint8x8_t b) {
  const uint16x8_t sum = vaddw_u8(vmlal_u8(vmull_u8(r, vdup_n_u8(3)), g, vdup_n_u8(6)), b);
  return vcge_u8(vshrn_n_u16(sum, 8), vdup_n_u8(5));
}

// The same for 16 pixels.
uint8x16_t Light16(uint8x16x3_t p) {
  const uint8x16_t three = vdupq_n_u8(3), six = vdupq_n_u8(6);
  const uint16x8_t low = vaddw_u8(vmlal_u8(vmull_u8(vget_low_u8(p.val[0]), vget_low_u8(three)),
                                           vget_low_u8(p.val[1]), vget_low_u8(six)),
                                  vget_low_u8(p.val[2]));
  const uint16x8_t high = vaddw_high_u8(vmlal_high_u8(vmull_high_u8(p.val[0], three), p.val[1], six), p.val[2]);
  return vcgeq_u8(vshrn_high_n_u16(vshrn_n_u16(low, 8), high, 8), vdupq_n_u8(5));
}

// Lane masks to bits, by pairwise sums of each lane's bit: byte q of the
// result sums lanes 2q and 2q + 1 of a, then of b. Two more rounds of pairs
// leave one byte per 8 lanes.
uint8x16_t PairBits(uint8x16_t a, uint8x16_t b) {
  return vpaddq_u8(vandq_u8(a, kLaneBits), vandq_u8(b, kLaneBits));
}

struct Neon {
  // One lane per cell; a whole chunk's equalities are ANDed over the 12 rows
  // before they become bits.
  static uint64_t SameAsLeft(const CellRows& rows, uint32_t cells) {
    uint8x16_t same[4];
    for (int q = 0; q < 4; ++q) same[q] = vdupq_n_u8(0xFF);
    for (int i = 0; i < kGlyphHeight; ++i)
      for (int q = 0; q < 4; ++q)
        same[q] = vandq_u8(same[q], vceqq_u8(vld1q_u8(rows[i] + 16 * q), vld1q_u8(rows[i] + 16 * q + 1)));
    const uint8x16_t quads = vpaddq_u8(PairBits(same[0], same[1]), PairBits(same[2], same[3]));
    return RealPairs(vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(quads, quads)), 0), cells);
  }

  // Four groups (32 pixels, 96 bytes) per step, then one at a time.
  static void MaskRow(const uint8_t* src, uint32_t groups, uint8_t* bits) {
    uint32_t k = 0;
    for (; k + 4 <= groups; k += 4, src += 4 * kCellBytes) {
      const uint8x16_t a = Light16(vld3q_u8(src)), b = Light16(vld3q_u8(src + 2 * kCellBytes));
      const uint8x16_t pairs = PairBits(a, b);
      const uint8x8_t quads = vpadd_u8(vget_low_u8(pairs), vget_high_u8(pairs));
      const uint32_t four = vget_lane_u32(vreinterpret_u32_u8(vpadd_u8(quads, quads)), 0);
      std::memcpy(bits + k, &four, sizeof four);
    }
    for (; k < groups; ++k, src += kCellBytes) {
      const uint8x8x3_t p = vld3_u8(src);
      bits[k] = vaddv_u8(vand_u8(Light8(p.val[0], p.val[1], p.val[2]), vget_low_u8(kLaneBits)));
    }
  }

  // Each pixel's lane tests its bit; one interleaving store writes the lane
  // to all three samples.
  static void WidenRow(const FitTables&, const uint8_t* bits, uint32_t groups, uint8_t* dst, uint8_t value) {
    const uint8x16_t fill = vdupq_n_u8(value);
    uint32_t k = 0;
    for (; k + 2 <= groups; k += 2, dst += 2 * kCellBytes) {
      const uint8x16_t row = vcombine_u8(vdup_n_u8(bits[k]), vdup_n_u8(bits[k + 1]));
      const uint8x16_t v = vandq_u8(vtstq_u8(row, kLaneBits), fill);
      vst3q_u8(dst, uint8x16x3_t{{v, v, v}});
    }
    if (k < groups) {
      const uint8x8_t v = vand_u8(vtst_u8(vdup_n_u8(bits[k]), vget_low_u8(kLaneBits)), vget_low_u8(fill));
      vst3_u8(dst, uint8x8x3_t{{v, v, v}});
    }
  }

  // 32 bytes in one pair of stores: the 8 past the cell land on the next
  // cell, which is drawn after it.
  static void DrawInner(uint8_t* dst, const uint8_t* drawn) { vst1q_u8_x2(dst, vld1q_u8_x2(drawn)); }

  // Six vectors of 16 glyph lanes; the first of the largest is found as the
  // smallest lane index holding the maximum.
  static int BestGlyph(const FitTables& t, const CellRows& rows, uint32_t n) {
    constexpr int kVectors = kGlyphLanes / 16;
    uint8x16_t sum[kVectors];
    for (int v = 0; v < kVectors; ++v) sum[v] = vld1q_u8(t.bias + 16 * v);
    for (int i = 0; i < kGlyphHeight; ++i) {
      const uint8_t* gain = t.rowGain[i][rows[i][n]];
      for (int v = 0; v < kVectors; ++v) sum[v] = vaddq_u8(sum[v], vld1q_u8(gain + 16 * v));
    }
    uint8x16_t top = sum[0];
    for (int v = 1; v < kVectors; ++v) top = vmaxq_u8(top, sum[v]);
    top = vdupq_n_u8(vmaxvq_u8(top));
    const uint8x16_t lanes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    uint8x16_t first = vdupq_n_u8(0xFF);
    for (int v = 0; v < kVectors; ++v) {
      const uint8x16_t index = vaddq_u8(lanes, vdupq_n_u8(static_cast<uint8_t>(16 * v)));
      first = vminq_u8(first, vornq_u8(index, vceqq_u8(sum[v], top)));
    }
    return vminvq_u8(first);
  }
};

}  // namespace

void FitNeon(uint8_t* pixels, uint32_t width, uint32_t height, int32_t rowBytes) {
  FitCells<Neon>(pixels, width, height, rowBytes);
}
