// Loads every file of the third-party conformance suites listed in
// MANIFEST.tsv: valid files must load with the listed size and with pixels
// that agree with an independent decoder; broken and questionable files
// must either load sensibly or fail leaving the destination untouched.
// Nothing may be printed, crash or hang.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "TestSupport.h"
#include "imaging/Usr_wic.h"

namespace lumivore {
namespace {

using test::Bytes;

struct Row {
  std::string path;  // relative to the suites' root; empty: suites missing
  std::string format;
  std::string validity;
  int width = 0;  // 0: not known
  int height = 0;
  std::string notes;
};

std::vector<Row> RowsUnder(const std::string& folder) {
  std::vector<Row> rows;
  const std::string root = test::TestDataRoot();
  std::ifstream in(root + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    Row r;
    std::string w, h, licence;
    std::getline(fields, r.path, '\t');
    std::getline(fields, r.format, '\t');
    std::getline(fields, r.validity, '\t');
    std::getline(fields, w, '\t');
    std::getline(fields, h, '\t');
    std::getline(fields, licence, '\t');
    std::getline(fields, r.notes, '\t');
    if (r.path.rfind(folder + "/", 0) != 0) continue;
    r.width = w == "-" ? 0 : std::atoi(w.c_str());
    r.height = h == "-" ? 0 : std::atoi(h.c_str());
    rows.push_back(r);
  }
  if (rows.empty()) rows.push_back(Row{});  // reported as skipped
  return rows;
}

void PrintTo(const Row& row, std::ostream* os) { *os << row.path; }

std::string NameOf(const testing::TestParamInfo<Row>& info) {
  if (info.param.path.empty()) return "SuiteMissing";
  std::string name = info.param.path;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

// Largest per-channel difference accepted against the reference decoder,
// and why it is not zero.
int Tolerance(const Row& row) {
  if (row.format == "jpeg" && row.path.find(".jpg") != std::string::npos) {
    return 0;  // ImageMagick links the same libjpeg-turbo with the same settings
  }
  // 16-bit samples: libpng and libtiff round to 8 bits, ImageMagick may too
  // but on its own path; one level either way.
  if (row.format == "png" || row.format == "tiff" || row.format == "bmp") return 1;
  return 0;
}

// dwebp's PPM output digest for a file, from the suite's own list.
std::string WebpReferenceMd5(const std::string& root, const std::string& file) {
  std::ifstream in(root + "/webp/libwebp_tests.md5");
  std::string md5, name;
  while (in >> md5 >> name) {
    if (name == file + ".ppm") return md5;
  }
  return "";
}

std::string Md5OfPpm(const Bitmap& b, const test::ScratchDir& dir) {
  std::string ppm =
      "P6\n" + std::to_string(b.width()) + " " + std::to_string(b.height()) + "\n255\n";
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) {
      const Rgb c = b.pixel(x, y);
      ppm += static_cast<char>(RedOf(c)), ppm += static_cast<char>(GreenOf(c)),
          ppm += static_cast<char>(BlueOf(c));
    }
  }
  const std::string path = dir.file("out.ppm");
  test::WriteFile(path, Bytes(ppm.begin(), ppm.end()));
  const auto out = test::RunCommand("md5sum '" + path + "'");
  return out ? out->substr(0, 32) : "";
}

// Files that ImageMagick 6.9 itself decodes wrongly, so it cannot be the
// reference; libtiff, the format's reference library, decodes them here and
// only the load and the size are checked.
constexpr struct {
  const char* path;
  const char* reason;
} kReferenceFaults[] = {
    {"tiff/ojpeg_", "old-style JPEG: YCbCr left unconverted (green and magenta picture)"},
    {"tiff/minisblack-2c-8b-alpha.tiff", "planar grey + alpha read as if interleaved"},
};

bool AssociatedAlpha(const std::string& path) {
  const auto out =
      test::RunCommand("identify -format '%[tiff:alpha]' '" + path + "[0]' 2>/dev/null");
  return out && *out == "associated";
}

class SuiteFile : public testing::TestWithParam<Row> {};

TEST_P(SuiteFile, LoadsAsTheSuiteSays) {
  const Row& row = GetParam();
  if (row.path.empty()) GTEST_SKIP() << "image suites not found at " << LUMIVORE_TESTDATA;
  const std::string root = test::TestDataRoot();
  const std::string path = root + "/" + row.path;

  Bitmap bitmap = test::MakePattern(7, 5);
  const Bitmap before = bitmap;
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  const bool loaded = WicLoadImage(path, bitmap);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  // We read 8-bit JPEG only: a 12-bit file must be refused cleanly.
  const bool mustFail = row.notes.find("12-bit") != std::string::npos;
  if (row.validity != "valid" || mustFail) {
    if (mustFail) {
      EXPECT_FALSE(loaded);
    }
    if (!loaded) {
      EXPECT_EQ(bitmap, before) << "a failed load changed the destination";
    } else {
      EXPECT_EQ(bitmap.format(), PixelFormat::Bgr24);
      EXPECT_GT(bitmap.width(), 0);
      EXPECT_GT(bitmap.height(), 0);
    }
    return;
  }

  ASSERT_TRUE(loaded);
  ASSERT_EQ(bitmap.format(), PixelFormat::Bgr24);
  if (row.width > 0) {
    EXPECT_EQ(bitmap.width(), row.width);
    EXPECT_EQ(bitmap.height(), row.height);
  }

  if (row.format == "webp") {
    const std::string file = row.path.substr(row.path.rfind('/') + 1);
    const std::string expected = WebpReferenceMd5(root, file);
    if (!expected.empty()) {
      test::ScratchDir dir;
      EXPECT_EQ(Md5OfPpm(bitmap, dir), expected);
      return;
    }
  }
  std::string referencePath = path;
  if (row.format == "jxr") {  // the suite ships reference decodes as BMP
    referencePath = path.substr(0, path.size() - 4) + ".bmp";
    if (!test::ReadFile(referencePath)) GTEST_SKIP() << "no reference decode for this file";
  }
  if (row.width == 0) GTEST_SKIP() << "no independent decoder reads this file";
  for (const auto& fault : kReferenceFaults) {
    if (row.path.find(fault.path) != std::string::npos) return;  // size checked above
  }
  // ImageMagick turns a PNG's gAMA into a colour-space conversion and leaves
  // TIFF YCbCr unconverted; we (like the platform decoders) apply no gamma
  // and always deliver RGB, so tell it what to do.
  const std::string options = row.format == "png" ? "-set colorspace sRGB" : "-colorspace sRGB";
  std::optional<Bytes> reference;
  if (row.format == "tiff" && AssociatedAlpha(path)) {
    // We keep the stored (premultiplied) colours, ImageMagick divides them
    // by alpha: multiply its result back.
    if (const auto rgba = test::ReferenceRgba(path, bitmap.width(), bitmap.height(), options)) {
      reference.emplace();
      for (std::size_t i = 0; i < rgba->size(); i += 4) {
        for (int c = 0; c < 3; ++c)
          reference->push_back(
              static_cast<std::uint8_t>(((*rgba)[i + c] * (*rgba)[i + 3] + 127) / 255));
      }
    }
  } else {
    reference = test::ReferenceRgb(referencePath, bitmap.width(), bitmap.height(), options);
  }
  if (!reference) GTEST_SKIP() << "ImageMagick's convert is not available";
  const test::Difference d = test::Compare(bitmap, *reference);
  EXPECT_LE(d.max, Tolerance(row)) << "mean difference " << d.mean;
}

INSTANTIATE_TEST_SUITE_P(Png, SuiteFile, testing::ValuesIn(RowsUnder("pngsuite")), NameOf);
INSTANTIATE_TEST_SUITE_P(Jpeg, SuiteFile, testing::ValuesIn(RowsUnder("jpeg")), NameOf);
INSTANTIATE_TEST_SUITE_P(Bmp, SuiteFile, testing::ValuesIn(RowsUnder("bmp")), NameOf);
INSTANTIATE_TEST_SUITE_P(Gif, SuiteFile, testing::ValuesIn(RowsUnder("gif")), NameOf);
INSTANTIATE_TEST_SUITE_P(Tiff, SuiteFile, testing::ValuesIn(RowsUnder("tiff")), NameOf);
INSTANTIATE_TEST_SUITE_P(Webp, SuiteFile, testing::ValuesIn(RowsUnder("webp")), NameOf);
INSTANTIATE_TEST_SUITE_P(Jxr, SuiteFile, testing::ValuesIn(RowsUnder("jxr")), NameOf);

}  // namespace
}  // namespace lumivore
