#include "io/Formats.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace gm::io {

// One row per format; each format's file defines its codec.
extern const Codec kPngCodec;
extern const Codec kJpegCodec;
extern const Codec kTiffCodec;

namespace {

const Codec* const kCodecs[] = {
    &kPngCodec,
    &kJpegCodec,
    &kTiffCodec,
};

std::string Lower(std::string_view s) {
  std::string lower(s);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// "a, b or c"
std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " or " : ", ";
    text += items[i];
  }
  return text;
}

template <typename Take>
std::string ListWritable(Take take) {
  std::vector<std::string> items;
  for (const Codec* c : kCodecs) {
    if (c->encode) take(*c, items);
  }
  return Listed(items);
}

}  // namespace

std::span<const Codec* const> Codecs() { return kCodecs; }

const Codec* SniffFormat(std::span<const uint8_t> head) {
  for (const Codec* c : kCodecs) {
    if (c->sniff(head)) return c;
  }
  return nullptr;
}

const Codec* CodecNamed(std::string_view name) {
  const std::string lower = Lower(name);
  for (const Codec* c : kCodecs) {
    if (!c->encode) continue;
    if (lower == c->name) return c;
    for (const char* e : c->extensions) {
      if (e && lower == e) return c;
    }
  }
  return nullptr;
}

const Codec* CodecForPath(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nullptr;
  return CodecNamed(std::string_view(path).substr(dot + 1));
}

std::string ReadableTitles() {
  std::vector<std::string> titles;
  for (const Codec* c : kCodecs) titles.push_back(c->title);
  return Listed(titles);
}

std::string WritableExtensions() {
  return ListWritable([](const Codec& c, std::vector<std::string>& items) {
    for (const char* e : c.extensions) {
      if (e) items.push_back(std::string(".") + e);
    }
  });
}

std::string WritableNames() {
  return ListWritable([](const Codec& c, std::vector<std::string>& items) { items.push_back(c.name); });
}

std::string AlphaExtensions() {
  return ListWritable([](const Codec& c, std::vector<std::string>& items) {
    if (c.alpha) items.push_back(std::string(".") + c.extensions[0]);
  });
}

Image Decode(Source& source, const DecodeRequest& request) {
  const std::span<const uint8_t> head = source.Head(kSniffBytes);
  if (head.empty()) throw Error(source.Name(), "the file is empty");
  const Codec* codec = SniffFormat(head);
  if (!codec) throw Error(source.Name(), "not a " + ReadableTitles() + " image");
  try {
    return codec->decode(source, request);
  } catch (const Cancelled&) {
    throw;
  } catch (const Error&) {
    // A read that Ctrl-C interrupted fails the decoder too: say what happened.
    if (request.Cancelled()) throw Cancelled(source.Name());
    throw;
  }
}

Image DecodeFile(const std::string& path, const DecodeRequest& request) {
  Source source = Source::Open(path, request.cancel);
  return Decode(source, request);
}

bool IsGrey(const Image& image) {
  const size_t step = static_cast<size_t>(image.channels);
  const uint8_t* p = image.pixels.data();
  const uint8_t* end = p + image.pixels.size();
  for (; p != end; p += step) {
    if (p[0] != p[1] || p[0] != p[2]) return false;
  }
  return true;
}

void Encode(const Image& image, const Codec& codec, int fd, const std::string& file, const EncodeRequest& request) {
  if (!codec.encode) throw Error(file, std::string("cannot write ") + codec.title + " files");
  codec.encode(image, IsGrey(image), fd, file, request);
}

}  // namespace gm::io
