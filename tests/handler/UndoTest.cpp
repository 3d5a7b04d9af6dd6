// The undo history: every step comes back byte for byte, whether it is
// packed yet or not, and memory that runs short costs the oldest steps
// first. On the history itself and through the main window's edits.
#include <QAction>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>

#include "editing/UndoHistory.h"
#include "tests/handler/PictureFixture.h"

namespace lumivore {
namespace {

using namespace std::chrono_literals;

// Holds the history's worker before it packs band `band` of the next step
// that has one, until released (at the latest when this goes out of scope).
class HeldPacking {
 public:
  HeldPacking(UndoHistory& history, int band) : history_(history), state_(new State) {
    state_->band = band;
    history.setBeforeBand([state = state_](int b) {
      std::unique_lock<std::mutex> lock(state->mutex);
      if (b != state->band || state->held) return;
      state->held = true;
      state->changed.notify_all();
      state->changed.wait(lock, [&] { return state->released; });
    });
  }
  ~HeldPacking() {
    release();
    history_.setBeforeBand(nullptr);
  }
  // True once the worker stands at the band.
  bool waitUntilHeld() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, 20s, [&] { return state_->held; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->released = true;
    state_->changed.notify_all();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    int band = 0;
    bool held = false, released = false;
  };
  UndoHistory& history_;
  std::shared_ptr<State> state_;
};

// A picture of the format with a palette of its own (not the grey ramp a
// new bitmap gets), noise in its top half, flat colour below, and the row
// padding filled too: a step must come back with every byte.
Bitmap Picture(PixelFormat format, int width, int height, unsigned seed) {
  Bitmap b;
  if (!b.allocate(width, height, format)) return b;
  std::mt19937 random(seed);
  if (IsIndexed(format)) {
    std::vector<Rgb> palette(std::size_t{1} << BitsPerPixel(format));
    for (Rgb& c : palette) c = random() & 0xFFFFFF;
    b.setPalette(palette);
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = b.row(y);
    for (std::size_t i = 0; i < b.stride(); ++i)
      row[i] = y < height / 2 ? static_cast<std::uint8_t>(random()) : 0x5A;
  }
  return b;
}

// The newest step, taken into a picture of the same size but other pixels
// (whose storage it may reuse).
Bitmap TakeNewest(UndoHistory& history, const Bitmap& like) {
  Bitmap out = Picture(like.format(), like.width(), like.height(), 99);
  history.takeNewest(out);
  return out;
}

const PixelFormat kFormats[] = {PixelFormat::Indexed1, PixelFormat::Indexed4, PixelFormat::Indexed8,
                                PixelFormat::Bgr24, PixelFormat::Bgrx32};

// --- The history by itself ----------------------------------------------------

TEST(UndoHistory, EveryFormat_ComesBackByteForByte_PackedOrNot) {
  UndoHistory history;
  for (const bool packedFirst : {false, true}) {
    std::vector<Bitmap> pushed;
    // 1531 x 700 spans several bands in the wider formats, the last one short.
    for (PixelFormat format : kFormats) {
      pushed.push_back(Picture(format, 1531, 700, static_cast<unsigned>(pushed.size())));
      history.push(pushed.back());
    }
    if (packedFirst) {
      history.waitUntilPacked();
      // Packed: the noise keeps its bytes, the flat half almost none.
      std::size_t raw = 0;
      for (const Bitmap& b : pushed) raw += b.byteSize();
      EXPECT_LT(history.heldBytes(), raw * 3 / 4);
    }
    for (auto it = pushed.rbegin(); it != pushed.rend(); ++it) {
      SCOPED_TRACE(BitsPerPixel(it->format()));
      EXPECT_TRUE(TakeNewest(history, *it) == *it) << (packedFirst ? "packed" : "right away");
    }
    EXPECT_TRUE(history.isEmpty());
    EXPECT_EQ(history.heldBytes(), 0u);
  }
}

TEST(UndoHistory, TakenBeforeItsPackingEnds_AStepComesBackWhole) {
  // 1000 x 800 at 32 bits: four bands of about a mebibyte.
  const Bitmap older = Picture(PixelFormat::Bgr24, 640, 480, 1);
  const Bitmap newer = Picture(PixelFormat::Bgrx32, 1000, 800, 2);
  for (const int band : {0, 1, 3}) {
    SCOPED_TRACE(band);
    UndoHistory history;
    history.push(older);
    history.waitUntilPacked();
    HeldPacking held(history, band);
    history.push(newer);
    ASSERT_TRUE(held.waitUntilHeld());
    EXPECT_TRUE(TakeNewest(history, newer) == newer);
    EXPECT_EQ(history.size(), 1);
    held.release();
    // The history goes on as before: the older step, then a new one packed.
    history.waitUntilPacked();
    EXPECT_TRUE(TakeNewest(history, older) == older);
    history.push(newer);
    history.waitUntilPacked();
    EXPECT_TRUE(TakeNewest(history, newer) == newer);
    EXPECT_TRUE(history.isEmpty());
  }
}

TEST(UndoHistory, MemoryShort_DropsTheOldestStepsFirstAndKeepsTheNewest) {
  std::size_t available = SIZE_MAX;
  std::mutex mutex;
  UndoHistory history([&]() -> std::optional<std::size_t> {
    std::lock_guard<std::mutex> lock(mutex);
    return available;
  });
  // Noise: packed, each step still takes its 192 KiB.
  std::vector<Bitmap> pushed;
  for (unsigned i = 0; i < 6; ++i) {
    pushed.push_back(Picture(PixelFormat::Bgr24, 256, 512, i));
    history.push(pushed.back());
  }
  history.waitUntilPacked();
  ASSERT_EQ(history.size(), 6);
  {
    std::lock_guard<std::mutex> lock(mutex);
    available = 2 * pushed.back().byteSize();
  }
  pushed.push_back(Picture(PixelFormat::Bgr24, 256, 512, 6));
  history.push(pushed.back());
  history.waitUntilPacked();
  const int kept = history.size();
  EXPECT_LT(kept, 7);
  EXPECT_GE(kept, 1);
  EXPECT_LE(history.heldBytes(), 4 * pushed.back().byteSize());
  // What is left is the newest steps, in order.
  for (int i = 0; i < kept; ++i) {
    const Bitmap& expected = pushed[pushed.size() - 1 - i];
    EXPECT_TRUE(TakeNewest(history, expected) == expected) << i;
  }
  EXPECT_TRUE(history.isEmpty());

  // With no memory left at all, the newest step still stays.
  {
    std::lock_guard<std::mutex> lock(mutex);
    available = 0;
  }
  history.push(pushed[0]);
  history.push(pushed[1]);
  history.waitUntilPacked();
  EXPECT_EQ(history.size(), 1);
  EXPECT_TRUE(TakeNewest(history, pushed[1]) == pushed[1]);
}

// --- Through the main window ------------------------------------------------

class Undo : public PictureFixture {};

struct EditCase {
  const char* name;
  std::function<void(TLumivoreForm&)> run;
};

void Trigger(TLumivoreForm& f, QAction* TLumivoreForm::*action) {
  f.UpdateActions();
  (f.*action)->trigger();
}

const EditCase kEdits[] = {
    {"trim", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::TrimAction); }},
    {"resize 50 %", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::Resize50Action); }},
    {"resize 150 %", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::Resize150Action); }},
    {"2 colours", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::Reduce2Action); }},
    {"16 colours", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::Reduce16Action); }},
    {"256 colours", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::Reduce256Action); }},
    {"grey", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::GrayAction); }},
    {"sepia", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::SepiaAction); }},
    {"negative", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::NegColAction); }},
    {"mosaic", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::MosicI4Action); }},
    {"rotate right", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::RotateRAction); }},
    {"rotate left", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::RotateLAction); }},
    {"mirror", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::ReverseLRAction); }},
    {"flip", [](TLumivoreForm& f) { Trigger(f, &TLumivoreForm::ReverseULAction); }},
    {"cursor stamp",
     [](TLumivoreForm& f) {
       f.MouseCsrItems.front()->trigger();
       QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(3, 2));
       QTest::mouseRelease(f.Image1, Qt::LeftButton, {}, QPoint(3, 2));
     }},
};

// When Ctrl+Z comes: at once, once the step is packed, or while the worker
// is held before packing it.
enum class When { AtOnce, Packed, WhilePacking };

TEST_F(Undo, EveryEditInEveryFormat_UndoesByteForByte) {
  TLumivoreForm& f = withPicture(45, 31);
  int undone = 0;
  for (PixelFormat format : kFormats) {
    const Bitmap picture = Picture(format, 45, 31, BitsPerPixel(format));
    for (When when : {When::AtOnce, When::Packed, When::WhilePacking}) {
      for (const EditCase& edit : kEdits) {
        SCOPED_TRACE(std::string(edit.name) + ", " + std::to_string(BitsPerPixel(format)) +
                     " bits, when " + std::to_string(static_cast<int>(when)));
        f.FWorkImage = picture;
        f.ShowWorkingImage();
        f.FSelRect = Rect{};
        f.PlaceSelShape();
        const QString sizeAndColours = status();
        // The trim and the mosaic work on the selection.
        f.FSelRect = Rect{5, 4, 30, 20};
        f.PlaceSelShape();
        std::optional<HeldPacking> held;
        if (when == When::WhilePacking) held.emplace(f.FUndoList, 0);
        edit.run(f);
        if (f.FUndoList.isEmpty()) {
          // Not offered for this format (the reductions and sepia of palettes).
          ASSERT_TRUE(IsIndexed(format));
          continue;
        }
        ASSERT_EQ(f.FUndoList.size(), 1);
        if (when == When::Packed) f.FUndoList.waitUntilPacked();
        if (held) {
          ASSERT_TRUE(held->waitUntilHeld());
        }
        f.UndoAction->trigger();
        ++undone;
        EXPECT_TRUE(f.FWorkImage == picture);
        EXPECT_TRUE(f.FUndoList.isEmpty());
        f.FSelRect = Rect{};
        f.PlaceSelShape();
        EXPECT_EQ(status(), sizeAndColours);
        Bitmap shown;
        ASSERT_TRUE(ConvertToBgrx32(picture, shown));
        EXPECT_TRUE(f.FViewBitmap == shown);
      }
    }
  }
  // All 15 edits on full-colour pictures; on palette pictures neither sepia
  // nor grey, nor a reduction to as many colours or more. Three times over.
  EXPECT_EQ(undone, 3 * (2 * 15 + 12 + 11 + 10));
}

}  // namespace
}  // namespace lumivore
