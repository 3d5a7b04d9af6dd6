// The row kernels, written once over Highway's portable vector operations and
// compiled here for every instruction set Highway targets on the machine
// (this file includes itself once per target through foreach_target.h); the
// first call picks the best one the processor supports.
#include "imaging/PixelKernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/PixelKernels.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace lumivore {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Pixels are worked a vector of bytes per channel at a time, and widened to
// 16-bit lanes half a vector at a time where sums and products need room.
// The scalar fallback has one lane, which cannot be halved: its bytes widen
// whole.
using D16 = hn::ScalableTag<std::uint16_t>;
using V16 = hn::Vec<D16>;
#if HWY_TARGET == HWY_SCALAR
using D8 = hn::Rebind<std::uint8_t, D16>;
constexpr int kHalves = 1;
#else
using D8 = hn::ScalableTag<std::uint8_t>;
constexpr int kHalves = 2;
#endif
using V8 = hn::Vec<D8>;

// The bytes of a vector as 16-bit lanes, in lane order.
struct Wide {
  V16 half[kHalves];
};

HWY_INLINE Wide Widen(V8 v) {
  const D16 d16;
#if HWY_TARGET == HWY_SCALAR
  return {{hn::PromoteTo(d16, v)}};
#else
  const hn::Half<D8> dh;
  return {{hn::PromoteTo(d16, hn::LowerHalf(dh, v)), hn::PromoteTo(d16, hn::UpperHalf(dh, v))}};
#endif
}

// Back to bytes, each lane saturated to 0..255 as a signed 16-bit value.
HWY_INLINE V8 Narrow(const Wide& w) {
  const hn::RebindToSigned<D16> di16;
#if HWY_TARGET == HWY_SCALAR
  return hn::DemoteTo(D8(), hn::BitCast(di16, w.half[0]));
#else
  const hn::Half<D8> dh;
  return hn::Combine(D8(), hn::DemoteTo(dh, hn::BitCast(di16, w.half[1])),
                     hn::DemoteTo(dh, hn::BitCast(di16, w.half[0])));
#endif
}

// `f(blue, green, red)` over 16-bit lanes, half by half, back to bytes.
template <class F>
HWY_INLINE V8 PerHalf(F f, V8 b, V8 g, V8 r) {
  const Wide wb = Widen(b), wg = Widen(g), wr = Widen(r);
  Wide out;
  for (int i = 0; i < kHalves; ++i) out.half[i] = f(wb.half[i], wg.half[i], wr.half[i]);
  return Narrow(out);
}

HWY_INLINE V16 AbsDiff16(V16 a, V16 b) {
  return hn::Or(hn::SaturatedSub(a, b), hn::SaturatedSub(b, a));
}

// Blue, green, red (and the fourth byte) of one group of pixels.
struct Pixels {
  V8 b, g, r, x;
};

HWY_INLINE Pixels LoadPixels(const std::uint8_t* in, int step) {
  const D8 d8;
  Pixels p;
  if (step == 4) {
    hn::LoadInterleaved4(d8, in, p.b, p.g, p.r, p.x);
  } else {
    hn::LoadInterleaved3(d8, in, p.b, p.g, p.r);
    p.x = hn::Zero(d8);
  }
  return p;
}

HWY_INLINE void StorePixels(const Pixels& p, int step, std::uint8_t* out) {
  const D8 d8;
  if (step == 4) {
    hn::StoreInterleaved4(p.b, p.g, p.r, p.x, d8, out);
  } else {
    hn::StoreInterleaved3(p.b, p.g, p.r, d8, out);
  }
}

// Runs `body(in, out)` over whole groups of pixels, then once more over the
// last few through zero-padded copies, so that every pixel takes the same
// vector path. `outBytes(k)` is the output size of the first k pixels.
template <class OutBytes, class Body>
HWY_INLINE void ForEachGroup(const std::uint8_t* in, int inStep, std::uint8_t* out, std::size_t n,
                             OutBytes outBytes, Body body) {
  const std::size_t lanes = hn::Lanes(D8());
  std::size_t x = 0;
  for (; x + lanes <= n; x += lanes) body(in + x * inStep, out + outBytes(x));
  if (x == n) return;
  std::vector<std::uint8_t> tailIn(lanes * inStep), tailOut(outBytes(lanes));
  std::memcpy(tailIn.data(), in + x * inStep, (n - x) * inStep);
  body(tailIn.data(), tailOut.data());
  std::memcpy(out + outBytes(x), tailOut.data(), outBytes(n) - outBytes(x));
}

template <class Body>
HWY_INLINE void ForEachGroup(const std::uint8_t* in, int inStep, std::uint8_t* out, int outStep,
                             std::size_t n, Body body) {
  ForEachGroup(
      in, inStep, out, n, [outStep](std::size_t k) { return k * outStep; }, body);
}

// floor((114 B + 587 G + 299 R) / 1000) in 16-bit lanes. The sum reaches
// 255000, too much for 16 bits, so its eighth is formed directly,
// 14 B + 73 G + 37 R + (2 B + 3 G + 3 R) div 8 (at most 31875), and divided
// by 125 as a multiply-high by ceil(2^22 / 125) and a shift, exact below
// 2^22 / 71.
HWY_INLINE V16 SepiaLuma(V16 b, V16 g, V16 r) {
  const D16 d16;
  const V16 whole = hn::Add(hn::Add(hn::Mul(b, hn::Set(d16, 14)), hn::Mul(g, hn::Set(d16, 73))),
                            hn::Mul(r, hn::Set(d16, 37)));
  const V16 rest = hn::Add(hn::Add(b, b), hn::Mul(hn::Add(g, r), hn::Set(d16, 3)));
  const V16 eighth = hn::Add(whole, hn::ShiftRight<3>(rest));
  return hn::ShiftRight<6>(hn::MulHigh(eighth, hn::Set(d16, 33555)));
}

// y + offset clamped to 0..255, for y in 0..255.
HWY_INLINE V8 Offset(V8 y, int offset) {
  const D8 d8;
  const auto by = hn::Set(d8, static_cast<std::uint8_t>(std::min(std::abs(offset), 255)));
  return offset < 0 ? hn::SaturatedSub(y, by) : hn::SaturatedAdd(y, by);
}

void SepiaRow(const std::uint8_t* in, int inStep, std::uint8_t* out, int outStep, std::size_t n,
              const int offsets[3]) {
  const int ob = offsets[0], og = offsets[1], orr = offsets[2];
  ForEachGroup(in, inStep, out, outStep, n, [&](const std::uint8_t* s, std::uint8_t* d) {
    Pixels p = LoadPixels(s, inStep);
    const V8 y = PerHalf(SepiaLuma, p.b, p.g, p.r);
    p.b = Offset(y, ob), p.g = Offset(y, og), p.r = Offset(y, orr);
    StorePixels(p, outStep, d);
  });
}

// Packs the low kBits of `perPixel(blue, green, red)` (16-bit lanes; for one
// bit, 0 or 0xFF) for each pixel into bytes, the first pixel in the top bits
// (kBits 1 or 4). The unused low bits of a last partial byte are zero.
template <int kBits, class PerPixel>
HWY_INLINE void PackPerPixel(const std::uint8_t* in, int step, std::uint8_t* out, std::size_t n,
                             PerPixel perPixel) {
  constexpr int kPerByte = 8 / kBits;
  const auto outBytes = [](std::size_t k) { return (k + kPerByte - 1) / kPerByte; };
  const auto values = [&](const std::uint8_t* s) {
    const Pixels p = LoadPixels(s, step);
    return PerHalf(perPixel, p.b, p.g, p.r);
  };
#if HWY_TARGET == HWY_SCALAR
  // One pixel per vector: the values go through a row of bytes.
  std::vector<std::uint8_t> row(outBytes(n) * kPerByte);
  ForEachGroup(in, step, row.data(), 1, n,
               [&](const std::uint8_t* s, std::uint8_t* d) { hn::StoreU(values(s), D8(), d); });
  for (std::size_t i = 0; i < row.size(); i += kPerByte) {
    unsigned byte = 0;
    for (int k = 0; k < kPerByte; ++k) byte = (byte << kBits) | (row[i + k] & ((1u << kBits) - 1));
    out[i / kPerByte] = static_cast<std::uint8_t>(byte);
  }
#else
  const D8 d8;
  const hn::Repartition<std::uint16_t, D8> dPairs;   // two pixels per lane
  const hn::Repartition<std::uint64_t, D8> dEights;  // eight pixels per lane
  // Each pixel's bit within its byte: 128 for the first, 1 for the eighth.
  std::vector<std::uint8_t> weights(hn::Lanes(d8));
  for (std::size_t i = 0; i < weights.size(); ++i) weights[i] = std::uint8_t(0x80u >> (i % 8));
  const V8 weight = hn::LoadU(d8, weights.data());
  ForEachGroup(in, step, out, n, outBytes, [&](const std::uint8_t* s, std::uint8_t* d) {
    const V8 v = values(s);
    if constexpr (kBits == 4) {
      // The first pixel of each pair in the low byte (lanes are little-endian).
      const auto pairs = hn::BitCast(dPairs, v);
      const auto packed =
          hn::Or(hn::ShiftLeft<4>(hn::And(pairs, hn::Set(dPairs, 0xFF))), hn::ShiftRight<8>(pairs));
      const hn::Rebind<std::uint8_t, decltype(dPairs)> dPacked;
      hn::StoreU(hn::DemoteTo(dPacked, hn::BitCast(hn::RebindToSigned<decltype(dPairs)>(), packed)),
                 dPacked, d);
    } else {
      // Distinct bits add up to their union.
      HWY_ALIGN std::uint64_t bytes[HWY_MAX_BYTES / 8];
      hn::Store(hn::SumsOf8(hn::And(v, weight)), dEights, bytes);
      for (std::size_t i = 0; i < hn::Lanes(dEights); ++i)
        d[i] = static_cast<std::uint8_t>(bytes[i]);
    }
  });
#endif
}

void MonoRow(const std::uint8_t* in, int step, std::uint8_t* out, std::size_t n) {
  PackPerPixel<1>(in, step, out, n, [](V16 b, V16 g, V16 r) {
    const D16 d16;
    return hn::IfThenElseZero(hn::Gt(hn::Add(hn::Add(b, g), r), hn::Set(d16, 382)),
                              hn::Set(d16, 0xFF));
  });
}

// The standard palette is the eight colours with channels 0 or 128 (indices
// 0-6 and 8, grey), silver (192, 192, 192) at 7, and the eight with channels
// 0 or 255 (black 0, then 9-15), each cube numbered red 1, green 2, blue 4.
// Within each cube the nearest colour is found channel by channel, and
// within the low cube a channel at exactly 64 takes 0, the lower index. The
// three candidates are then compared by squared distance: a channel's
// distance to its cube's value is at most 127, so those sums fit 16 bits;
// silver's may not, and saturates, since it then loses anyway.
HWY_INLINE V16 Nearest16Index(V16 b, V16 g, V16 r) {
  const D16 d16;
  const V16 zero = hn::Zero(d16);
  V16 lowIndex = zero, highIndex = zero, low = zero, high = zero, silver = zero;
  const V16 channels[3] = {r, g, b};
  for (int c = 0; c < 3; ++c) {
    const V16 v = channels[c];
    const V16 bit = hn::Set(d16, static_cast<std::uint16_t>(1 << c));
    lowIndex = hn::Or(lowIndex, hn::IfThenElseZero(hn::Gt(v, hn::Set(d16, 64)), bit));
    highIndex = hn::Or(highIndex, hn::IfThenElseZero(hn::Gt(v, hn::Set(d16, 127)), bit));
    const V16 toLow = hn::Min(v, AbsDiff16(v, hn::Set(d16, 128)));
    const V16 toHigh = hn::Min(v, hn::Sub(hn::Set(d16, 255), v));
    const V16 toSilver = AbsDiff16(v, hn::Set(d16, 192));
    low = hn::Add(low, hn::Mul(toLow, toLow));
    high = hn::Add(high, hn::Mul(toHigh, toHigh));
    silver = hn::SaturatedAdd(silver, hn::Mul(toSilver, toSilver));
  }
  // Grey (all three bits) is entry 8, after silver: silver wins a tie with it.
  const auto isGrey = hn::Eq(lowIndex, hn::Set(d16, 7));
  const auto silverWins = hn::Lt(silver, hn::Add(low, hn::IfThenElseZero(isGrey, hn::Set(d16, 1))));
  const V16 best = hn::IfThenElse(silverWins, silver, low);
  const V16 index = hn::IfThenElse(silverWins, hn::Set(d16, 7),
                                   hn::IfThenElse(isGrey, hn::Set(d16, 8), lowIndex));
  // Black is the one colour of both cubes, and the low cube has it first: a
  // high colour is taken only when strictly nearer, never black from there.
  return hn::IfThenElse(hn::Lt(high, best), hn::Add(highIndex, hn::Set(d16, 8)), index);
}

void Nearest16Row(const std::uint8_t* in, int step, std::uint8_t* out, std::size_t n) {
  PackPerPixel<4>(in, step, out, n, Nearest16Index);
}

void Bgr24ToBgrx32Row(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  ForEachGroup(in, 3, out, 4, n,
               [](const std::uint8_t* s, std::uint8_t* d) { StorePixels(LoadPixels(s, 3), 4, d); });
}

void Bgrx32ToBgr24Row(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  ForEachGroup(in, 4, out, 3, n,
               [](const std::uint8_t* s, std::uint8_t* d) { StorePixels(LoadPixels(s, 4), 3, d); });
}

void AddBytesTo(const std::uint8_t* in, std::uint16_t* sums, std::size_t bytes) {
  const D8 d8;
  const D16 d16;
  const std::size_t lanes = hn::Lanes(d8), half = hn::Lanes(d16);
  std::size_t i = 0;
  for (; i + lanes <= bytes; i += lanes) {
    const Wide w = Widen(hn::LoadU(d8, in + i));
    for (int k = 0; k < kHalves; ++k) {
      std::uint16_t* at = sums + i + k * half;
      hn::StoreU(hn::Add(hn::LoadU(d16, at), w.half[k]), d16, at);
    }
  }
  for (; i < bytes; ++i) sums[i] = static_cast<std::uint16_t>(sums[i] + in[i]);
}

void CopyColoursOf32(const std::uint8_t* pattern, std::uint8_t* out, std::size_t n) {
  const hn::ScalableTag<std::uint32_t> d32;
  // The fourth byte of a pixel as a word, whatever the machine's byte order.
  const std::uint8_t fourth[4] = {0, 0, 0, 0xFF};
  std::uint32_t word;
  std::memcpy(&word, fourth, 4);
  const auto keep = hn::Set(d32, word);
  const std::size_t lanes = hn::Lanes(d32);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    auto* o = reinterpret_cast<std::uint32_t*>(out + 4 * i);
    const auto* p = reinterpret_cast<const std::uint32_t*>(pattern + 4 * i);
    hn::StoreU(hn::Or(hn::And(keep, hn::LoadU(d32, o)), hn::AndNot(keep, hn::LoadU(d32, p))), d32,
               o);
  }
  for (; i < n; ++i) std::memcpy(out + 4 * i, pattern + 4 * i, 3);
}

}  // namespace HWY_NAMESPACE
}  // namespace lumivore
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumivore {

HWY_EXPORT(SepiaRow);
HWY_EXPORT(MonoRow);
HWY_EXPORT(Nearest16Row);
HWY_EXPORT(Bgr24ToBgrx32Row);
HWY_EXPORT(Bgrx32ToBgr24Row);
HWY_EXPORT(AddBytesTo);
HWY_EXPORT(CopyColoursOf32);

void SepiaRow(const std::uint8_t* in, int inStep, std::uint8_t* out, int outStep, std::size_t n,
              const int offsets[3]) {
  HWY_DYNAMIC_DISPATCH(SepiaRow)(in, inStep, out, outStep, n, offsets);
}
void MonoRow(const std::uint8_t* in, int step, std::uint8_t* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(MonoRow)(in, step, out, n);
}
void Nearest16Row(const std::uint8_t* in, int step, std::uint8_t* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(Nearest16Row)(in, step, out, n);
}
void Bgr24ToBgrx32Row(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(Bgr24ToBgrx32Row)(in, out, n);
}
void Bgrx32ToBgr24Row(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(Bgrx32ToBgr24Row)(in, out, n);
}
void AddBytesTo(const std::uint8_t* in, std::uint16_t* sums, std::size_t bytes) {
  HWY_DYNAMIC_DISPATCH(AddBytesTo)(in, sums, bytes);
}
void CopyColoursOf32(const std::uint8_t* pattern, std::uint8_t* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(CopyColoursOf32)(pattern, out, n);
}

}  // namespace lumivore
#endif  // HWY_ONCE
