// make_clicks: synthesises the two built-in click images (accent "pi.wav",
// plain "po.wav") and prints them as the C++ source src/files/formats/click_images.cpp.
//
// Run it only to redesign the clicks; the printed arrays are committed:
//   g++ -std=c++20 -O2 tools/make_clicks/make_clicks.cpp -o /tmp/make_clicks
//   /tmp/make_clicks > src/files/formats/click_images.cpp && clang-format -i
//   src/files/formats/click_images.cpp
//
// Each click is 175 unsigned 8-bit samples at 16000 Hz. A few decaying
// partials are fitted to the fixed opening samples, continued, shaped by a
// gain curve that is solved so that every block of 25 samples peaks at its
// target swing, and faded into the fixed closing samples. The program checks
// its own output and fails rather than print an image that misses a target.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 16000;
constexpr int kSamples = 175;
constexpr int kBlock = 25;
constexpr int kBlocks = kSamples / kBlock;
constexpr int kHead = 8;
constexpr int kTail = 6;

struct Partial {
  double hz;
  double amp;    // relative level before fitting
  double decay;  // e-folding length in samples (0 = none)
};

struct Design {
  const char* name;
  const char* comment;
  std::array<int, kHead> head;  // centred: sample - 128
  std::array<int, kTail> tail;
  std::array<int, kBlocks> peak;  // largest swing per block
  std::vector<Partial> partials;
  double drive;  // >1 drives the flat part into clipping
};

double Basis(const Partial& p, int n, bool cosine) {
  const double w = 2 * std::numbers::pi * p.hz / kRate;
  const double env = p.decay > 0 ? std::exp(-n / p.decay) : 1.0;
  return env * (cosine ? std::cos(w * n) : std::sin(w * n));
}

// Solves the small dense system a x = b in place (Gaussian elimination with
// partial pivoting).
std::vector<double> Solve(std::vector<std::vector<double>> a, std::vector<double> b) {
  const size_t m = b.size();
  for (size_t c = 0; c < m; ++c) {
    size_t piv = c;
    for (size_t r = c + 1; r < m; ++r)
      if (std::abs(a[r][c]) > std::abs(a[piv][c])) piv = r;
    std::swap(a[c], a[piv]);
    std::swap(b[c], b[piv]);
    for (size_t r = c + 1; r < m; ++r) {
      const double f = a[r][c] / a[c][c];
      for (size_t k = c; k < m; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  std::vector<double> x(m);
  for (size_t i = m; i-- > 0;) {
    double s = b[i];
    for (size_t k = i + 1; k < m; ++k) s -= a[i][k] * x[k];
    x[i] = s / a[i][i];
  }
  return x;
}

// The continuous body: sine and cosine weights per partial, fitted to the
// opening samples and pulled towards each partial's own level (ridge), so the
// continuation keeps the intended spectrum.
std::vector<double> Body(const Design& d) {
  const size_t m = d.partials.size() * 2;
  const double level = d.peak[0];
  std::vector<std::vector<double>> ata(m, std::vector<double>(m, 0.0));
  std::vector<double> atb(m, 0.0);
  auto column = [&](size_t k, int n) { return Basis(d.partials[k / 2], n, k % 2 == 1); };
  for (int n = 0; n < kHead; ++n) {
    for (size_t i = 0; i < m; ++i) {
      for (size_t j = 0; j < m; ++j) ata[i][j] += column(i, n) * column(j, n);
      atb[i] += column(i, n) * d.head[n];
    }
  }
  const double lambda = 0.6;
  for (size_t i = 0; i < m; ++i) {
    ata[i][i] += lambda;
    // Prior: the sine term at the partial's level, no cosine term.
    if (i % 2 == 0) atb[i] += lambda * d.partials[i / 2].amp * level;
  }
  const std::vector<double> w = Solve(ata, atb);
  std::vector<double> body(kSamples, 0.0);
  for (int n = 0; n < kSamples; ++n)
    for (size_t k = 0; k < m; ++k) body[n] += w[k] * column(k, n);
  return body;
}

int Swing(int centred) {
  return std::abs(centred);
}

std::array<int, kSamples> Shape(const Design& d) {
  const std::vector<double> body = Body(d);
  // Gain knots at block centres; the last knot sits on the final sample.
  std::array<double, kBlocks + 1> knotPos{};
  std::array<double, kBlocks + 1> knot{};
  for (int b = 0; b < kBlocks; ++b) knotPos[b] = b * kBlock + kBlock / 2.0;
  knotPos[kBlocks] = kSamples - 1;
  for (int b = 0; b < kBlocks; ++b) knot[b] = d.drive;
  knot[kBlocks] = 0.0;

  auto gainAt = [&](int n) {
    if (n <= knotPos[0]) return knot[0];
    for (int k = 0; k < kBlocks; ++k) {
      if (n <= knotPos[k + 1]) {
        const double t = (n - knotPos[k]) / (knotPos[k + 1] - knotPos[k]);
        const double s = 0.5 - 0.5 * std::cos(std::numbers::pi * t);  // smooth
        return knot[k] * (1 - s) + knot[k + 1] * s;
      }
    }
    return knot[kBlocks];
  };
  // A last fade so that the samples before the fixed tail are already near
  // silence and the click ends without a step.
  auto taper = [](int n) {
    const int from = 150, to = kSamples - kTail;
    if (n < from) return 1.0;
    const double t = std::min(1.0, double(n - from) / (to - from));
    return 0.5 + 0.5 * std::cos(std::numbers::pi * t) * 0.9 + 0.05;
  };

  std::array<double, kSamples> x{};
  auto render = [&] {
    for (int n = 0; n < kSamples; ++n) x[n] = gainAt(n) * taper(n) * body[n];
    for (int n = 0; n < kHead; ++n) x[n] = d.head[n];
    for (int n = 0; n < kTail; ++n) x[kSamples - kTail + n] = d.tail[n];
  };
  // Solve the knots so each block (before clipping) peaks at its target; a
  // full-scale target is reached by the drive, so its knot is left alone.
  for (int iter = 0; iter < 400; ++iter) {
    render();
    for (int b = 0; b < kBlocks; ++b) {
      if (d.peak[b] >= 128) continue;
      double pk = 0;
      for (int n = b * kBlock; n < (b + 1) * kBlock; ++n) pk = std::max(pk, std::abs(x[n]));
      if (pk > 0) knot[b] *= std::pow(d.peak[b] / pk, 0.5);
    }
  }
  render();

  std::array<int, kSamples> out{};
  for (int n = 0; n < kSamples; ++n)
    out[n] = std::clamp(static_cast<int>(std::lround(x[n])), -128, 127);
  // Make each block's peak exact after rounding: clamp the few samples that
  // overshoot and lift the largest one onto the target.
  for (int b = 0; b < kBlocks; ++b) {
    const int lo = std::max(b * kBlock, kHead), hi = std::min((b + 1) * kBlock, kSamples - kTail);
    const int target = d.peak[b];
    int fixedPeak = 0;
    for (int n = b * kBlock; n < (b + 1) * kBlock; ++n)
      if (n < lo || n >= hi) fixedPeak = std::max(fixedPeak, Swing(out[n]));
    if (fixedPeak >= target) {
      for (int n = lo; n < hi; ++n) out[n] = std::clamp(out[n], -target, target);
      continue;
    }
    int best = lo;
    for (int n = lo; n < hi; ++n) {
      out[n] = std::clamp(out[n], -target, std::min(target, 127));
      if (Swing(out[n]) > Swing(out[best])) best = n;
    }
    if (target == 128) {
      // Full scale needs a sample at 0x00: take the deepest trough.
      for (int n = lo; n < hi; ++n)
        if (out[n] < out[best] || out[best] >= 0) best = out[n] < 0 ? n : best;
      out[best] = -128;
    } else {
      out[best] = out[best] < 0 ? -target : target;
    }
  }
  return out;
}

// Magnitude of the zero-mean image at `hz`.
double Dft(const std::array<int, kSamples>& s, double hz) {
  double re = 0, im = 0;
  for (int n = 0; n < kSamples; ++n) {
    const double w = 2 * std::numbers::pi * hz * n / kRate;
    re += s[n] * std::cos(w);
    im -= s[n] * std::sin(w);
  }
  return std::hypot(re, im);
}

double Dominant(const std::array<int, kSamples>& s, double from, double to) {
  double bestHz = from, best = -1;
  for (double hz = from; hz <= to; hz += 25) {
    const double m = Dft(s, hz);
    if (m > best) best = m, bestHz = hz;
  }
  return bestHz;
}

bool Check(const Design& d, const std::array<int, kSamples>& s) {
  bool ok = true;
  for (int n = 0; n < kHead; ++n) ok &= s[n] == d.head[n];
  for (int n = 0; n < kTail; ++n) ok &= s[kSamples - kTail + n] == d.tail[n];
  for (int b = 0; b < kBlocks; ++b) {
    int pk = 0;
    for (int n = b * kBlock; n < (b + 1) * kBlock; ++n) pk = std::max(pk, Swing(s[n]));
    std::fprintf(stderr, "%s block %d peak %d (want %d)\n", d.name, b, pk, d.peak[b]);
    ok &= pk == d.peak[b];
  }
  std::fprintf(stderr, "%s dominant %.0f Hz; 4.4 kHz band peak %.0f Hz, level %.2f of max\n",
               d.name, Dominant(s, 100, 8000), Dominant(s, 3800, 5000),
               Dft(s, Dominant(s, 3800, 5000)) / Dft(s, Dominant(s, 100, 8000)));
  return ok;
}

void Print(const Design& d, const std::array<int, kSamples>& s) {
  std::array<std::uint8_t, 44> header = {'R', 'I', 'F',  'F',  211, 0,   0,    0,    'W', 'A', 'V',
                                         'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                         1,   0,   0x80, 0x3E, 0,   0,   0x80, 0x3E, 0,   0,   1,
                                         0,   8,   0,    'd',  'a', 't', 'a',  175,  0,   0,   0};
  std::printf("// %s\nconst std::array<std::uint8_t, kClickImageSize> %s = {\n", d.comment, d.name);
  std::string line = "   ";
  int col = 0;
  auto emit = [&](int byte) {
    char buf[8];
    std::snprintf(buf, sizeof buf, " 0x%02X,", byte);
    line += buf;
    if (++col == 16) {
      std::printf("%s\n", line.c_str());
      line = "   ";
      col = 0;
    }
  };
  for (auto h : header) emit(h);
  for (int v : s) emit(v + 128);
  if (col) std::printf("%s\n", line.c_str());
  std::printf("};\n\n");
}

}  // namespace

int main() {
  auto centred = [](std::array<int, 8> bytes) {
    for (int& b : bytes) b -= 128;
    return bytes;
  };
  auto centredTail = [](std::array<int, 6> bytes) {
    for (int& b : bytes) b -= 128;
    return bytes;
  };
  const Design pi{"PiWave",
                  "Accent click \"pi.wav\": bright, full scale, strongest near 4.4 kHz.",
                  centred({0x80, 0xFF, 0x65, 0x00, 0xAA, 0xF7, 0x40, 0x3B}),
                  centredTail({0x7E, 0x7E, 0x80, 0x7E, 0x7E, 0x80}),
                  {128, 128, 128, 128, 110, 75, 8},
                  {{4400, 1.0, 0}, {4650, 0.25, 0}, {2900, 0.12, 60}, {6300, 0.10, 40}},
                  1.12};
  const Design po{
      "PoWave",
      "Plain click \"po.wav\": darker, +-72, strongest near 0.9 kHz, weaker near 4.4 kHz.",
      centred({0x80, 0xB9, 0x93, 0x7B, 0xB2, 0xC5, 0x93, 0x89}),
      centredTail({0x80, 0x80, 0x80, 0x7E, 0x7E, 0x80}),
      {72, 72, 72, 71, 63, 27, 4},
      {{900, 0.8, 0}, {4400, 0.3, 90}, {1800, 0.10, 50}, {4700, 0.08, 30}},
      1.0};

  const auto piSamples = Shape(pi);
  const auto poSamples = Shape(po);
  if (!Check(pi, piSamples) || !Check(po, poSamples)) {
    std::fprintf(stderr, "make_clicks: an image misses its targets\n");
    return 1;
  }
  std::printf(
      "// Generated by tools/make_clicks; edit the generator, not this file.\n"
      "#include \"files/formats/click_images.h\"\n\nnamespace pendlo {\n\n");
  Print(pi, piSamples);
  Print(po, poSamples);
  std::printf("}  // namespace pendlo\n");
  return 0;
}
