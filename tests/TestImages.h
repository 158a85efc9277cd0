// Images for tests: random, a picture, and the filter's expected result
// computed by one direct call of the plain kernel.
#pragma once

#include <cstdint>
#include <optional>
#include <random>

#include "abi/HostTypes.h"
#include "io/Image.h"

namespace gm::test {

Image RandomImage(int32_t width, int32_t height, int channels, std::mt19937& rng);

// A deterministic picture with smooth areas, edges and noise, so that the
// filter draws a mix of glyphs.
Image Picture(int32_t width, int32_t height, int channels, uint32_t seed = 1);

// The image after one direct kernel run over the colour planes of `area`
// (the whole image when none); alpha untouched.
Image ReferenceResult(Image image, std::optional<VRect> area = std::nullopt);

}  // namespace gm::test
