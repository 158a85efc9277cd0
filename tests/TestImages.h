// Images for tests: random, a picture, and the filter's expected result
// computed by one direct call of the plain kernel.
#pragma once

#include <cstdint>
#include <random>

#include "abi/HostTypes.h"
#include "io/Image.h"

namespace gm::test {

Image RandomImage(int32_t width, int32_t height, int channels, std::mt19937& rng);

// A deterministic picture with smooth areas, edges and noise, so that the
// filter draws a mix of glyphs.
Image Picture(int32_t width, int32_t height, int channels, uint32_t seed = 1);

// The image after one direct kernel run over `rect` (colour planes only).
Image ReferenceResult(const Image& image, VRect rect);

}  // namespace gm::test
