#include "editing/UndoHistory.h"

#include <sys/resource.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/RowBands.h"
#include "util/SystemMemory.h"

namespace lumivore {

namespace {

// zstd's fastest regular level: screenshots pack at about a gigabyte a
// second to a twentieth of their bytes or less, and unpack faster still.
constexpr int kLevel = 1;

using Bytes = std::vector<std::uint8_t, ZeroedAllocator<std::uint8_t>>;

int RowsPerBand(const Bitmap& picture) {
  return static_cast<int>(std::max<std::size_t>(1, UndoHistory::kBandBytes / picture.stride()));
}

}  // namespace

struct UndoHistory::Packed {
  int width = 0, height = 0;
  PixelFormat format = PixelFormat::None;
  std::vector<Rgb> palette;
  int rowsPerBand = 1;
  Bytes bytes;                    // the bands one after the other
  std::vector<std::size_t> ends;  // where each band's bytes end
};

struct UndoHistory::Step {
  // The picture until it is packed; shared with the edit that reads it and
  // with the worker that packs it.
  std::shared_ptr<Bitmap> picture;
  std::optional<Packed> packed;
  bool packing = false;
  // Packing failed (no memory): the step keeps its picture.
  bool unpackable = false;
  // Taken back or dropped while being packed: the packing stops.
  std::atomic<bool> gone{false};
};

UndoHistory::UndoHistory(std::function<std::optional<std::size_t>()> available)
    : available_(available ? std::move(available) : AvailableMemory) {}

UndoHistory::~UndoHistory() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (const auto& step : steps_) step->gone = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

std::shared_ptr<const Bitmap> UndoHistory::push(Bitmap picture) {
  auto step = std::make_shared<Step>();
  // Held here too, so that the packing, which may end at once, keeps it.
  const std::shared_ptr<Bitmap> held = std::make_shared<Bitmap>(std::move(picture));
  step->picture = held;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // Edits made faster than the packing goes would pile up unpacked
    // pictures: beyond a few, the edit waits for the oldest to be packed.
    packed_.wait(lock, [&] { return WaitingLocked() < kMaxWaiting || !worker_.joinable(); });
    steps_.push_front(step);
    TrimLocked();
    if (!worker_.joinable()) {
      try {
        worker_ = std::thread([this] { Work(); });
      } catch (const std::system_error&) {
        // Without a thread the steps stay unpacked, as they were always kept.
      }
    }
  }
  wake_.notify_one();
  return held;
}

void UndoHistory::takeNewest(Bitmap& into) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (steps_.empty()) {
    into.clear();
    return;
  }
  const std::shared_ptr<Step> step = steps_.front();
  const std::shared_ptr<Bitmap> picture = step->picture;
  // Held by the step and here only: it can be moved out once the step is
  // removed. Otherwise the worker or the edit still reads it, or the
  // picture is packed: the copy or the unpacking is made before the step is
  // removed, so a lack of memory loses nothing.
  const bool mine = picture && picture.use_count() == 2;
  if (!mine) {
    // Only this thread removes the newest step, and a packed step is never
    // written again: it is read without the lock.
    lock.unlock();
    if (picture) {
      into = *picture;
    } else {
      Unpack(*step->packed, into);
    }
    lock.lock();
  }
  if (!steps_.empty() && steps_.front() == step) steps_.pop_front();
  step->gone = true;
  step->picture.reset();
  lock.unlock();
  packed_.notify_all();
  if (mine) into = std::move(*picture);
}

void UndoHistory::clear() {
  std::deque<std::shared_ptr<Step>> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& step : steps_) step->gone = true;
    dropped.swap(steps_);
  }
  packed_.notify_all();
}

int UndoHistory::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(steps_.size());
}

std::size_t UndoHistory::heldBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return HeldLocked();
}

std::size_t UndoHistory::HeldLocked() const {
  std::size_t held = 0;
  for (const auto& step : steps_)
    held += step->packed ? step->packed->bytes.size() : step->picture->byteSize();
  return held;
}

int UndoHistory::WaitingLocked() const {
  return static_cast<int>(std::count_if(
      steps_.begin(), steps_.end(), [](const auto& s) { return !s->packed && !s->unpackable; }));
}

void UndoHistory::waitUntilPacked() {
  std::unique_lock<std::mutex> lock(mutex_);
  packed_.wait(lock, [&] { return WaitingLocked() == 0 || !worker_.joinable(); });
}

void UndoHistory::setBeforeBand(std::function<void(int)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  beforeBand_ = std::move(hook);
}

void UndoHistory::DropOldestLocked() {
  steps_.back()->gone = true;
  steps_.pop_back();
}

void UndoHistory::TrimLocked() {
  while (steps_.size() > std::size_t(kDepth)) DropOldestLocked();
  if (steps_.size() < 2) return;
  std::size_t held = HeldLocked();
  const std::optional<std::size_t> available = available_();
  if (!available) return;
  // What a dropped step frees becomes available again.
  std::size_t left = *available;
  while (steps_.size() > 1 && held > left) {
    const Step& oldest = *steps_.back();
    const std::size_t bytes =
        oldest.packed ? oldest.packed->bytes.size() : oldest.picture->byteSize();
    held -= bytes;
    left += bytes;
    DropOldestLocked();
  }
}

std::shared_ptr<UndoHistory::Step> UndoHistory::NextToPack() const {
  for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
    const Step& s = **it;
    if (!s.packed && !s.packing && !s.unpackable) return *it;
  }
  return nullptr;
}

void UndoHistory::Work() {
  // The packing gives way to the window's own work on a busy processor.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::shared_ptr<Step> step;
    wake_.wait(lock, [&] { return stopping_ || (step = NextToPack()); });
    if (stopping_) return;
    step->packing = true;
    std::shared_ptr<Bitmap> picture = step->picture;
    const std::function<void(int)> beforeBand = beforeBand_;
    lock.unlock();
    std::optional<Packed> packed;
    bool failed = false;
    try {
      packed = Pack(*picture, *step, beforeBand);
      failed = !packed && !step->gone;
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    lock.lock();
    step->packing = false;
    step->unpackable = failed;
    if (packed && !step->gone) {
      step->packed = std::move(packed);
      // Freed after the lock is let go (unless the edit still reads it).
      step->picture.swap(picture);
      step->picture.reset();
      TrimLocked();
    }
    lock.unlock();
    // The unpacked picture is gone before anyone waiting is told.
    picture.reset();
    step.reset();
    packed_.notify_all();
    lock.lock();
  }
}

std::optional<UndoHistory::Packed> UndoHistory::Pack(const Bitmap& picture, const Step& step,
                                                     const std::function<void(int)>& beforeBand) {
  Packed p;
  p.width = picture.width(), p.height = picture.height(), p.format = picture.format();
  p.palette = picture.palette();
  if (picture.empty()) return p;
  p.rowsPerBand = RowsPerBand(picture);
  const std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(),
                                                                     ZSTD_freeCCtx);
  if (!context) throw std::bad_alloc();
  // Room for the worst case; only the pages written are ever backed by memory.
  Bytes room(ZSTD_compressBound(picture.byteSize()) + 64);
  std::size_t at = 0;
  for (int band = 0, top = 0; top < picture.height(); ++band, top += p.rowsPerBand) {
    if (beforeBand) beforeBand(band);
    if (step.gone) return std::nullopt;
    const int rows = std::min(p.rowsPerBand, picture.height() - top);
    const std::size_t made = ZSTD_compressCCtx(context.get(), room.data() + at, room.size() - at,
                                               picture.row(top), picture.stride() * rows, kLevel);
    if (ZSTD_isError(made)) return std::nullopt;
    at += made;
    p.ends.push_back(at);
  }
  p.bytes = Bytes(at);
  std::memcpy(p.bytes.data(), room.data(), at);
  return p;
}

void UndoHistory::Unpack(const Packed& p, Bitmap& into) {
  if (p.format == PixelFormat::None || p.width <= 0 || p.height <= 0) {
    into.clear();
    return;
  }
  Bitmap fresh;
  const bool reuse = into.reshape(p.width, p.height, p.format);
  if (!reuse && !fresh.allocate(p.width, p.height, p.format)) throw std::bad_alloc();
  Bitmap& out = reuse ? into : fresh;
  out.setPalette(p.palette);
  const int bands = static_cast<int>(p.ends.size());
  std::atomic<bool> broken{false};
  const bool ran = ForRowBands(bands, out.byteSize(), [&](int begin, int end) {
    for (int band = begin; band < end; ++band) {
      const std::size_t from = band ? p.ends[band - 1] : 0;
      const int top = band * p.rowsPerBand;
      const std::size_t bytes = out.stride() * std::min(p.rowsPerBand, p.height - top);
      const std::size_t made =
          ZSTD_decompress(out.row(top), bytes, p.bytes.data() + from, p.ends[band] - from);
      if (made != bytes) broken = true;
    }
  });
  // Packed by this program a moment ago: a band that does not unpack whole
  // means memory for its work ran out.
  if (!ran || broken) throw std::bad_alloc();
  if (!reuse) into = std::move(fresh);
}

}  // namespace lumivore
