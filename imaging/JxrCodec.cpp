// JPEG XR (HD Photo, ".HDP"/".WDP") through jxrlib.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/Codec.h"

// jxrlib's headers must come after the standard ones and define min/max.
#include <JXRGlue.h>
#undef min
#undef max

// Present only in sanitizer builds: the hook a fuzzer uses to save the input
// when a sanitizer ends the process.
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*)(void));

namespace lumivore::codec {
namespace {

struct DecoderGuard {
  PKImageDecode* decoder = nullptr;
  PKFormatConverter* converter = nullptr;
  WMPStream* stream = nullptr;
  ~DecoderGuard() {
    if (converter) converter->Release(&converter);
    if (decoder) decoder->Release(&decoder);
    if (stream) CloseWS_Memory(&stream);
  }
};

// An output stream over a byte vector; the encoder seeks back to patch its
// headers, so writes may land anywhere.
struct VectorStream {
  WMPStream ws;  // first member: jxrlib passes &ws around
  Bytes* out;
  std::size_t pos;
};

ERR StreamClose(WMPStream** me) {
  *me = nullptr;  // owned by EncodeJxr
  return WMP_errSuccess;
}
Bool StreamEos(WMPStream* me) {
  auto* s = reinterpret_cast<VectorStream*>(me);
  return s->pos >= s->out->size();
}
ERR StreamRead(WMPStream* me, void* pv, size_t cb) {
  auto* s = reinterpret_cast<VectorStream*>(me);
  if (s->pos > s->out->size() || cb > s->out->size() - s->pos) return WMP_errFileIO;
  std::memcpy(pv, s->out->data() + s->pos, cb);
  s->pos += cb;
  return WMP_errSuccess;
}
ERR StreamWrite(WMPStream* me, const void* pv, size_t cb) {
  auto* s = reinterpret_cast<VectorStream*>(me);
  try {
    if (s->pos + cb > s->out->size()) s->out->resize(s->pos + cb);
  } catch (...) {
    return WMP_errOutOfMemory;
  }
  if (cb) std::memcpy(s->out->data() + s->pos, pv, cb);
  s->pos += cb;
  return WMP_errSuccess;
}
ERR StreamSetPos(WMPStream* me, size_t pos) {
  reinterpret_cast<VectorStream*>(me)->pos = pos;
  return WMP_errSuccess;
}
ERR StreamGetPos(WMPStream* me, size_t* pos) {
  *pos = reinterpret_cast<VectorStream*>(me)->pos;
  return WMP_errSuccess;
}

struct EncoderGuard {
  PKImageEncode* encoder = nullptr;
  ~EncoderGuard() {
    if (encoder) encoder->Release(&encoder);
  }
};

}  // namespace

namespace {
bool WriteAll(int fd, const void* data, std::size_t size);
}  // namespace

// Decodes in the calling (child) process and sends width, height and the
// 24-bit rows down `fd`.
static bool DecodeToPipe(ByteView in, int fd) {
  DecoderGuard g;
  if (Failed(CreateWS_Memory(&g.stream, const_cast<std::uint8_t*>(in.data), in.size))) return false;
  if (Failed(PKImageDecode_Create_WMP(&g.decoder))) return false;
  if (Failed(g.decoder->Initialize(g.decoder, g.stream))) return false;
  I32 width = 0, height = 0;
  if (Failed(g.decoder->GetSize(g.decoder, &width, &height))) return false;
  if (!PictureSizeAllowed(width, height)) return false;
  // Only the primary image is read: the container has no separate preview.
  if (Failed(PKCodecFactory_CreateFormatConverter(&g.converter))) return false;
  // jxrlib converts each stored format to only some of these; take the first
  // it offers. Alpha is dropped afterwards without touching the colours.
  struct Target {
    const PKPixelFormatGUID* format;
    int bytes, blue, green, red;
  };
  static const Target kTargets[] = {
      {&GUID_PKPixelFormat24bppBGR, 3, 0, 1, 2},
      {&GUID_PKPixelFormat32bppBGRA, 4, 0, 1, 2},
      {&GUID_PKPixelFormat24bppRGB, 3, 2, 1, 0},
      {&GUID_PKPixelFormat32bppRGBA, 4, 2, 1, 0},
  };
  const Target* target = nullptr;
  for (const Target& t : kTargets) {
    if (!Failed(g.converter->Initialize(g.converter, g.decoder, nullptr, *t.format))) {
      target = &t;
      break;
    }
  }
  if (!target) return false;
  // The decoder works in macroblocks of 16 rows: give it room for a whole
  // last one.
  const std::size_t stride = target->bytes * std::size_t(width);
  const std::size_t rows = (std::size_t(height) + 15) & ~std::size_t{15};
  // Not cleared: pages are taken only as the decoder fills them, so a file
  // whose data breaks off early costs little.
  std::unique_ptr<std::uint8_t, void (*)(void*)> pixels(
      static_cast<std::uint8_t*>(std::malloc(stride * rows)), std::free);
  if (!pixels) return false;
  PKRect rect = {0, 0, width, height};
  if (Failed(g.converter->Copy(g.converter, &rect, pixels.get(), static_cast<U32>(stride)))) {
    // jxrlib frees its decoding contexts only after a complete decode; when
    // the data breaks off part way they would leak.
    for (CTXSTRCODEC* context : {&g.decoder->WMP.ctxSC, &g.decoder->WMP.ctxSC_Alpha}) {
      if (*context) ImageStrDecTerm(*context);
      *context = nullptr;
    }
    return false;
  }
  const std::int32_t size[2] = {width, height};
  if (!WriteAll(fd, size, sizeof size)) return false;
  std::vector<std::uint8_t> row(3 * std::size_t(width));
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = pixels.get() + stride * y;
    std::uint8_t* d = row.data();
    for (int x = 0; x < width; ++x, s += target->bytes, d += 3) {
      d[0] = s[target->blue], d[1] = s[target->green], d[2] = s[target->red];
    }
    if (!WriteAll(fd, row.data(), row.size())) return false;
  }
  return true;
}

namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n, size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads exactly `size` bytes unless the writer dies or the deadline passes.
bool ReadAll(int fd, void* data, std::size_t size, std::chrono::steady_clock::time_point deadline) {
  auto* p = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n, size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The child: decode, send width, height and the rows, and leave without
// running any of the parent's exit handlers.
[[noreturn]] void DecodeInChild(ByteView in, int fd) {
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) ::dup2(null, STDOUT_FILENO), ::dup2(null, STDERR_FILENO);
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  // A fault inside jxrlib ends this child plainly, whatever handlers the
  // parent installed: a crash reporter, a sanitizer or a fuzzer would record
  // the child's contained failure as one of the parent's own.
  for (const int sig : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) ::signal(sig, SIG_DFL);
  if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(nullptr);
  bool ok = false;
  try {
    ok = DecodeToPipe(in, fd);
  } catch (...) {
  }
  ::_exit(ok ? 0 : 1);
}

}  // namespace

// jxrlib stops the whole process with assert() on some malformed files, so
// it runs in a short-lived child process that hands back the pixels through
// a pipe; a child that dies or takes too long is a failed load.
bool DecodeJxr(ByteView in, Bitmap& out) {
  constexpr auto kTimeLimit = std::chrono::seconds(30);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  Fd readEnd(fds[0]), writeEnd(fds[1]);
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) DecodeInChild(in, writeEnd.get());
  writeEnd.reset();
  const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
  bool ok = false;
  try {
    std::int32_t size[2] = {0, 0};
    Bitmap bitmap;
    ok = ReadAll(readEnd.get(), size, sizeof size, deadline) &&
         PictureSizeAllowed(size[0], size[1]) &&
         bitmap.allocate(size[0], size[1], PixelFormat::Bgr24);
    for (int y = 0; ok && y < size[1]; ++y) {
      ok = ReadAll(readEnd.get(), bitmap.row(y), 3 * std::size_t(size[0]), deadline);
    }
    if (ok) out = std::move(bitmap);
  } catch (...) {
    ok = false;
  }
  readEnd.reset();
  int status = 0;
  if (!ok) ::kill(child, SIGKILL);
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool EncodeJxr(const Bitmap& bitmap, const EncodeOptions& options, Bytes& out) {
  if (!(options.quality >= 0.0f && options.quality <= 1.0f)) return false;
  // The container has no palettes and no padded 32-bit layout worth keeping.
  Bitmap converted;
  if (!To24(bitmap, converted)) return false;

  CWMIStrCodecParam params{};
  params.bVerbose = FALSE;
  params.cfColorFormat = YUV_444;
  params.bdBitDepth = BD_LONG;
  params.bfBitstreamFormat = FREQUENCY;
  params.bProgressiveMode = TRUE;
  params.olOverlap = OL_ONE;
  params.sbSubband = SB_ALL;
  params.uAlphaMode = 0;
  // Quality 1.0 is lossless (quantiser index 1); below that the quantiser
  // grows linearly, 0.9 giving 9 and 0.0 giving 81.
  params.uiDefaultQPIndex =
      options.quality >= 1.0f ? 1 : static_cast<U8>(1 + (1.0f - options.quality) * 80.0f + 0.5f);

  Bytes encoded;
  VectorStream stream{};
  stream.ws.Close = StreamClose;
  stream.ws.EOS = StreamEos;
  stream.ws.Read = StreamRead;
  stream.ws.Write = StreamWrite;
  stream.ws.SetPos = StreamSetPos;
  stream.ws.GetPos = StreamGetPos;
  stream.out = &encoded;
  stream.pos = 0;

  EncoderGuard g;
  if (Failed(PKImageEncode_Create_WMP(&g.encoder))) return false;
  if (Failed(g.encoder->Initialize(g.encoder, &stream.ws, &params, sizeof params)) ||
      Failed(g.encoder->SetPixelFormat(g.encoder, GUID_PKPixelFormat24bppBGR)) ||
      Failed(g.encoder->SetSize(g.encoder, converted.width(), converted.height())) ||
      Failed(g.encoder->SetResolution(g.encoder, 96.0f, 96.0f)) ||
      Failed(g.encoder->WritePixels(g.encoder, static_cast<U32>(converted.height()),
                                    converted.bits(), static_cast<U32>(converted.stride())))) {
    return false;
  }
  g.encoder->Release(&g.encoder);
  out = std::move(encoded);
  return true;
}

}  // namespace lumivore::codec
