// The exact 3-D orientation determinant det[(a-d), (b-d), (c-d)] of four
// points with double coordinates, computed by ExactFloat and by its peers on
// two fixed input sets:
//
//   Uniform   coordinates uniform in [0, 1);
//   Coplanar  d lies on the plane through a, b and c up to the rounding of
//             its coordinates, so the determinant is tiny and double's sign
//             is often wrong.
//
// Every coordinate is a multiple of 2^-53 in [0, 1), so a difference needs 54
// bits, a product of two differences 108, a 2x2 minor 109, a term 163 and the
// determinant 165: MPFR's variables and Boost's type get these precisions.
// Before anything is timed, every exact variant's sign is checked against
// ExactFloat's on every input; a disagreement ends the program.
//
// Benchmark names are Orientation/<set>/<implementation>; each iteration
// computes one determinant from the twelve doubles.

#include <benchmark/benchmark.h>
#include <mpfr.h>

#include <boost/multiprecision/cpp_bin_float.hpp>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/peers.h"
#include "math/exactfloat.h"

namespace nurvik::lattis::bench {
namespace {

struct Point {
  double x, y, z;
};
struct Quad {
  Point a, b, c, d;
};

constexpr int kQuads = 1024;  // a power of two, for cheap cycling

Point UniformPoint(std::mt19937_64& rng) {
  const double x = UniformDouble(rng), y = UniformDouble(rng);
  return {x, y, UniformDouble(rng)};
}

std::vector<Quad> UniformSet() {
  std::mt19937_64 rng(20240601);
  std::vector<Quad> quads(kQuads);
  for (Quad& q : quads) {
    q.a = UniformPoint(rng);
    q.b = UniformPoint(rng);
    q.c = UniformPoint(rng);
    q.d = UniformPoint(rng);
  }
  return quads;
}

// Rounds v in [0, 1] to the nearest multiple of 2^-53 below 1.
double SnapToGrid(double v) {
  const double snapped = std::ldexp(std::nearbyint(std::ldexp(v, 53)), -53);
  return std::min(snapped, 1.0 - 0x1p-53);
}

std::vector<Quad> CoplanarSet() {
  std::mt19937_64 rng(20240602);
  std::vector<Quad> quads(kQuads);
  for (Quad& q : quads) {
    q.a = UniformPoint(rng);
    q.b = UniformPoint(rng);
    q.c = UniformPoint(rng);
    // A convex combination stays in [0, 1).
    const double u = 0.5 * UniformDouble(rng), v = 0.5 * UniformDouble(rng);
    auto mix = [&](double a, double b, double c) {
      return SnapToGrid(a + u * (b - a) + v * (c - a));
    };
    q.d = {mix(q.a.x, q.b.x, q.c.x), mix(q.a.y, q.b.y, q.c.y),
           mix(q.a.z, q.b.z, q.c.z)};
  }
  return quads;
}

// The determinant in any number type T with operators and a constructor from
// double; like MPFR's variant, it converts each of the twelve doubles once.
template <class T>
T Orientation(const Quad& q) {
  const T ax(q.a.x), ay(q.a.y), az(q.a.z), bx(q.b.x), by(q.b.y), bz(q.b.z);
  const T cx(q.c.x), cy(q.c.y), cz(q.c.z), dx(q.d.x), dy(q.d.y), dz(q.d.z);
  const T adx = ax - dx, ady = ay - dy, adz = az - dz;
  const T bdx = bx - dx, bdy = by - dy, bdz = bz - dz;
  const T cdx = cx - dx, cdy = cy - dy, cdz = cz - dz;
  return adx * (bdy * cdz - bdz * cdy) + bdx * (cdy * adz - cdz * ady) +
         cdx * (ady * bdz - adz * bdy);
}

int Sign(const ExactFloat& v) { return v.sgn(); }
int Sign(const GmpFloat& v) { return v.sgn(); }
int Sign(const RawBn& v) { return v.sgn(); }
int Sign(double v) { return (v > 0) - (v < 0); }

using BoostFloat = boost::multiprecision::number<
    boost::multiprecision::cpp_bin_float<
        165, boost::multiprecision::digit_base_2>,
    boost::multiprecision::et_off>;
int Sign(const BoostFloat& v) { return v.sign(); }

template <class T>
int OrientationSign(const Quad& q) {
  return Sign(Orientation<T>(q));
}

// MPFR with every variable allocated once, at a precision that keeps its
// result exact.
class MpfrOrientation {
 public:
  MpfrOrientation() {
    for (mpfr_t& v : coord_) mpfr_init2(v, 53);
    for (mpfr_t& v : diff_) mpfr_init2(v, 54);
    for (mpfr_t& v : prod_) mpfr_init2(v, 108);
    for (mpfr_t& v : minor_) mpfr_init2(v, 109);
    for (mpfr_t& v : term_) mpfr_init2(v, 163);
    mpfr_init2(sum_, 165);
  }
  MpfrOrientation(const MpfrOrientation&) = delete;
  MpfrOrientation& operator=(const MpfrOrientation&) = delete;
  ~MpfrOrientation() {
    for (mpfr_t& v : coord_) mpfr_clear(v);
    for (mpfr_t& v : diff_) mpfr_clear(v);
    for (mpfr_t& v : prod_) mpfr_clear(v);
    for (mpfr_t& v : minor_) mpfr_clear(v);
    for (mpfr_t& v : term_) mpfr_clear(v);
    mpfr_clear(sum_);
  }

  int Sign(const Quad& q) {
    const double in[12] = {q.a.x, q.a.y, q.a.z, q.b.x, q.b.y, q.b.z,
                           q.c.x, q.c.y, q.c.z, q.d.x, q.d.y, q.d.z};
    for (int i = 0; i < 12; ++i) mpfr_set_d(coord_[i], in[i], MPFR_RNDN);
    // diff_[3*p + k]: coordinate k of point p minus that of d.
    for (int i = 0; i < 9; ++i) {
      mpfr_sub(diff_[i], coord_[i], coord_[9 + i % 3], MPFR_RNDN);
    }
    // Minor of row p: the cross term of the other two rows, as in the
    // expansion adx*(bdy*cdz - bdz*cdy) + bdx*(cdy*adz - cdz*ady) + ...
    static constexpr int kRows[3][2] = {{1, 2}, {2, 0}, {0, 1}};
    for (int p = 0; p < 3; ++p) {
      const int r = kRows[p][0], s = kRows[p][1];
      mpfr_mul(prod_[0], diff_[3 * r + 1], diff_[3 * s + 2], MPFR_RNDN);
      mpfr_mul(prod_[1], diff_[3 * r + 2], diff_[3 * s + 1], MPFR_RNDN);
      mpfr_sub(minor_[p], prod_[0], prod_[1], MPFR_RNDN);
      mpfr_mul(term_[p], diff_[3 * p], minor_[p], MPFR_RNDN);
    }
    mpfr_add(sum_, term_[0], term_[1], MPFR_RNDN);
    mpfr_add(sum_, sum_, term_[2], MPFR_RNDN);
    return mpfr_sgn(sum_);
  }

 private:
  mpfr_t coord_[12], diff_[9], prod_[2], minor_[3], term_[3], sum_;
};

// Checks every exact variant against ExactFloat on every input; counts the
// inputs where double's sign is wrong.
bool SignsAgree(const char* set_name, const std::vector<Quad>& quads) {
  MpfrOrientation mpfr;
  int double_wrong = 0;
  for (const Quad& q : quads) {
    const int s = OrientationSign<ExactFloat>(q);
    const int others[] = {mpfr.Sign(q), OrientationSign<GmpFloat>(q),
                          OrientationSign<RawBn>(q),
                          OrientationSign<BoostFloat>(q)};
    for (int o : others) {
      if (o != s) {
        fprintf(stderr, "%s: exact signs disagree\n", set_name);
        return false;
      }
    }
    double_wrong += OrientationSign<double>(q) != s;
  }
  fprintf(stderr, "%s: exact signs agree on %d inputs; double is wrong on %d\n",
          set_name, kQuads, double_wrong);
  return true;
}

template <class T>
void BM_Orientation(benchmark::State& state, const std::vector<Quad>* quads) {
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(OrientationSign<T>((*quads)[i++ % kQuads]));
  }
}

void BM_OrientationMpfr(benchmark::State& state,
                        const std::vector<Quad>* quads) {
  MpfrOrientation mpfr;
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mpfr.Sign((*quads)[i++ % kQuads]));
  }
}

}  // namespace
}  // namespace nurvik::lattis::bench

int main(int argc, char** argv) {
  using namespace nurvik::lattis::bench;  // NOLINT(build/namespaces)
  using nurvik::lattis::ExactFloat;
  static const std::vector<Quad> uniform = UniformSet();
  static const std::vector<Quad> coplanar = CoplanarSet();
  if (!SignsAgree("Uniform", uniform) || !SignsAgree("Coplanar", coplanar)) {
    return 1;
  }
  for (const auto& [name, set] :
       {std::pair{"Uniform", &uniform}, std::pair{"Coplanar", &coplanar}}) {
    const std::string prefix = std::string("Orientation/") + name + "/";
    benchmark::RegisterBenchmark((prefix + "ExactFloat").c_str(),
                                 BM_Orientation<ExactFloat>, set);
    benchmark::RegisterBenchmark((prefix + "MPFR").c_str(), BM_OrientationMpfr,
                                 set);
    benchmark::RegisterBenchmark((prefix + "GMP").c_str(),
                                 BM_Orientation<GmpFloat>, set);
    benchmark::RegisterBenchmark((prefix + "BoringSSL").c_str(),
                                 BM_Orientation<RawBn>, set);
    benchmark::RegisterBenchmark((prefix + "Boost").c_str(),
                                 BM_Orientation<BoostFloat>, set);
    benchmark::RegisterBenchmark((prefix + "double").c_str(),
                                 BM_Orientation<double>, set);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
