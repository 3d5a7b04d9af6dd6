// Icon files built from bytes for the tests: DIB icon images, .ico files and
// minimal PE32 executables whose resources hold icon groups. Built by hand
// after the published layouts, so no third-party executable is needed.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace lumivore::test {

using IconBytes = std::vector<std::uint8_t>;

inline void Put16(IconBytes& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = v & 0xFF, b[at + 1] = (v >> 8) & 0xFF;
}
inline void Put32(IconBytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A DIB icon image of w x h pixels. `argb(x, y)` gives each pixel as
// 0xAARRGGBB (top row first); for bit depths below 32 the colour is taken from
// a palette of the first distinct colours met and the alpha only decides the
// mask (alpha 0 -> transparent). bits: 1, 4, 8, 24 or 32.
inline IconBytes DibIcon(int w, int h, int bits, const std::function<std::uint32_t(int, int)>& argb,
                         bool withMask = true) {
  IconBytes b(40);
  Put32(b, 0, 40);
  Put32(b, 4, w);
  Put32(b, 8, 2 * h);
  Put16(b, 12, 1);
  Put16(b, 14, bits);
  std::vector<std::uint32_t> palette;
  auto indexOf = [&](std::uint32_t c) {
    c &= 0xFFFFFF;
    for (std::size_t i = 0; i < palette.size(); ++i)
      if (palette[i] == c) return static_cast<unsigned>(i);
    palette.push_back(c);
    return static_cast<unsigned>(palette.size() - 1);
  };
  const std::size_t stride = (static_cast<std::size_t>(w) * bits + 31) / 32 * 4;
  IconBytes rows(stride * h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = rows.data() + stride * (h - 1 - y);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t c = argb(x, y);
      if (bits >= 24) {
        const int n = bits / 8;
        for (int k = 0; k < n; ++k) row[n * x + k] = (c >> (8 * k)) & 0xFF;
      } else {
        const unsigned index = indexOf(c);
        const std::size_t bit = static_cast<std::size_t>(x) * bits;
        row[bit / 8] |= static_cast<std::uint8_t>(index << (8 - bits - bit % 8));
      }
    }
  }
  if (bits <= 8) {
    palette.resize(std::size_t{1} << bits);
    Put32(b, 32, static_cast<std::uint32_t>(palette.size()));
    for (std::uint32_t c : palette) {
      const std::size_t at = b.size();
      Put32(b, at, c);
    }
  }
  b.insert(b.end(), rows.begin(), rows.end());
  if (withMask) {
    const std::size_t maskStride = (static_cast<std::size_t>(w) + 31) / 32 * 4;
    IconBytes mask(maskStride * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if ((argb(x, y) >> 24) == 0) mask[maskStride * (h - 1 - y) + x / 8] |= 0x80 >> (x % 8);
    b.insert(b.end(), mask.begin(), mask.end());
  }
  return b;
}

// A flat, opaque 24-bit icon of one colour (0xRRGGBB).
inline IconBytes FlatIcon(std::uint32_t rgb, int size = 32) {
  return DibIcon(size, size, 24, [rgb](int, int) { return 0xFF000000u | rgb; });
}

struct IconImage {
  int width;
  int height;
  int bits;
  IconBytes data;
};

// The 16-byte (ICO) or 14-byte (group resource) directory entry of an image.
inline void PutEntry(IconBytes& b, std::size_t at, const IconImage& image) {
  b.resize(std::max(b.size(), at + 12));
  b[at] = image.width >= 256 ? 0 : image.width;
  b[at + 1] = image.height >= 256 ? 0 : image.height;
  Put16(b, at + 4, 1);
  Put16(b, at + 6, image.bits);
  Put32(b, at + 8, static_cast<std::uint32_t>(image.data.size()));
}

inline IconBytes IcoFile(const std::vector<IconImage>& images) {
  IconBytes b;
  Put16(b, 0, 0);
  Put16(b, 2, 1);
  Put16(b, 4, static_cast<std::uint32_t>(images.size()));
  std::size_t offset = 6 + 16 * images.size();
  for (std::size_t i = 0; i < images.size(); ++i) {
    PutEntry(b, 6 + 16 * i, images[i]);
    Put32(b, 6 + 16 * i + 12, static_cast<std::uint32_t>(offset));
    offset += images[i].data.size();
  }
  for (const IconImage& image : images) b.insert(b.end(), image.data.begin(), image.data.end());
  return b;
}

// A PE32 file with one ".rsrc" section holding the given icon groups, in
// order (group ids 1, 2, ...; image ids numbered across all groups from 1).
inline IconBytes PeFile(const std::vector<std::vector<IconImage>>& groups) {
  constexpr std::uint32_t kSectionRva = 0x1000, kSectionFile = 0x200;
  IconBytes b(kSectionFile);
  b[0] = 'M', b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  std::memcpy(b.data() + 0x40, "PE\0\0", 4);
  const std::size_t coff = 0x44, optional = coff + 20;
  Put16(b, coff, 0x14C);
  Put16(b, coff + 2, 1);
  Put16(b, coff + 16, 224);
  Put16(b, coff + 18, 0x102);
  Put16(b, optional, 0x10B);
  Put32(b, optional + 92, 16);
  const std::size_t sectionTable = optional + 224;

  // The resource tree: root, the two type directories, one language
  // directory per resource, data entries, then the data.
  std::vector<IconImage> images;
  for (const auto& g : groups) images.insert(images.end(), g.begin(), g.end());
  const std::size_t nIcons = images.size(), nGroups = groups.size();
  IconBytes r;
  const std::size_t root = 0, iconDir = 32, groupDir = iconDir + 16 + 8 * nIcons;
  const std::size_t langDirs = groupDir + 16 + 8 * nGroups;
  const std::size_t dataEntries = langDirs + 24 * (nIcons + nGroups);
  std::size_t dataAt = dataEntries + 16 * (nIcons + nGroups);
  Put16(r, root + 14, 2);
  Put32(r, root + 16, 3);
  Put32(r, root + 20, 0x80000000u | iconDir);
  Put32(r, root + 24, 14);
  Put32(r, root + 28, 0x80000000u | groupDir);
  Put16(r, iconDir + 14, static_cast<std::uint32_t>(nIcons));
  Put16(r, groupDir + 14, static_cast<std::uint32_t>(nGroups));
  std::vector<IconBytes> blobs;
  for (const auto& image : images) blobs.push_back(image.data);
  std::uint32_t nextImage = 1;
  for (const auto& g : groups) {
    IconBytes header;
    Put16(header, 0, 0);
    Put16(header, 2, 1);
    Put16(header, 4, static_cast<std::uint32_t>(g.size()));
    for (std::size_t i = 0; i < g.size(); ++i) {
      PutEntry(header, 6 + 14 * i, g[i]);
      Put16(header, 6 + 14 * i + 12, nextImage++);
    }
    blobs.push_back(header);
  }
  for (std::size_t k = 0; k < nIcons + nGroups; ++k) {
    const bool isIcon = k < nIcons;
    const std::size_t dirEntry = isIcon ? iconDir + 16 + 8 * k : groupDir + 16 + 8 * (k - nIcons);
    Put32(r, dirEntry, static_cast<std::uint32_t>(isIcon ? k + 1 : k - nIcons + 1));
    const std::size_t lang = langDirs + 24 * k;
    Put32(r, dirEntry + 4, 0x80000000u | static_cast<std::uint32_t>(lang));
    Put16(r, lang + 14, 1);
    Put32(r, lang + 16, 0x409);
    const std::size_t entry = dataEntries + 16 * k;
    Put32(r, lang + 20, static_cast<std::uint32_t>(entry));
    Put32(r, entry, static_cast<std::uint32_t>(kSectionRva + dataAt));
    Put32(r, entry + 4, static_cast<std::uint32_t>(blobs[k].size()));
    r.resize(dataAt);
    r.insert(r.end(), blobs[k].begin(), blobs[k].end());
    dataAt = (r.size() + 3) / 4 * 4;
  }
  r.resize(dataAt);

  Put32(b, optional + 96 + 16, kSectionRva);
  Put32(b, optional + 96 + 20, static_cast<std::uint32_t>(r.size()));
  std::memcpy(b.data() + sectionTable, ".rsrc", 5);
  Put32(b, sectionTable + 8, static_cast<std::uint32_t>(r.size()));
  Put32(b, sectionTable + 12, kSectionRva);
  Put32(b, sectionTable + 16, static_cast<std::uint32_t>(r.size()));
  Put32(b, sectionTable + 20, kSectionFile);
  b.resize(kSectionFile);
  b.insert(b.end(), r.begin(), r.end());
  return b;
}

// A PE file whose groups each hold one flat 32 x 32 icon of the given colour.
inline IconBytes PeWithFlatIcons(const std::vector<std::uint32_t>& colours) {
  std::vector<std::vector<IconImage>> groups;
  for (std::uint32_t c : colours) groups.push_back({{32, 32, 24, FlatIcon(c)}});
  return PeFile(groups);
}

}  // namespace lumivore::test
