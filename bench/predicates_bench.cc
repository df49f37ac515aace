// Two exact geometric predicates on points with double coordinates, computed
// by ExactFloat and by its peers:
//
//   Orientation  det[(a-d), (b-d), (c-d)] of four points in 3-D;
//   InSphere     the 4x4 lifted determinant of five points in 3-D, whose sign
//                says whether e lies inside the sphere through a, b, c, d.
//
// Input sets:
//   Uniform   coordinates uniform in [0, 1);
//   Coplanar  d lies on the plane through a, b and c up to the rounding of
//             its coordinates, so the orientation is tiny and double's sign
//             is often wrong (orientation only);
//   Cospherical  e lies near the sphere through a, b, c, d (in-sphere only).
//
// Every coordinate is a multiple of 2^-53 in [0, 1), so a difference needs 54
// bits, a product of two differences 108, a 2x2 minor 109, a 3x3 term 163 and
// the orientation 165; the in-sphere determinant needs about 285 bits (five
// words). MPFR's variables and Boost's type get these precisions. Before
// anything is timed, every exact variant's sign is checked against
// ExactFloat's on every input; a disagreement ends the program.
//
// Benchmark names are <predicate>/<set>/<implementation>; each iteration
// computes one determinant from the doubles.

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

// ---------------------------------------------------------------------------
// In-sphere.

struct Quint {
  Point a, b, c, d, e;
};

std::vector<Quint> UniformQuints() {
  std::mt19937_64 rng(20240603);
  std::vector<Quint> quints(kQuads);
  for (Quint& q : quints) {
    for (Point* p : {&q.a, &q.b, &q.c, &q.d, &q.e}) *p = UniformPoint(rng);
  }
  return quints;
}

// Five points on the sphere of radius 0.4 about (0.5, 0.5, 0.5), each
// snapped to the grid, so that the determinant is tiny.
std::vector<Quint> CosphericalQuints() {
  std::mt19937_64 rng(20240604);
  std::normal_distribution<double> normal;
  std::vector<Quint> quints(kQuads);
  for (Quint& q : quints) {
    for (Point* p : {&q.a, &q.b, &q.c, &q.d, &q.e}) {
      const double x = normal(rng), y = normal(rng), z = normal(rng);
      const double scale = 0.4 / std::sqrt(x * x + y * y + z * z);
      *p = {SnapToGrid(0.5 + x * scale), SnapToGrid(0.5 + y * scale),
            SnapToGrid(0.5 + z * scale)};
    }
  }
  return quints;
}

// The lifted determinant with rows (p - e, |p - e|^2) for p = a, b, c, d,
// expanded by 2x2 and 3x3 minors.
template <class T>
T InSphere(const Quint& q) {
  const T ex(q.e.x), ey(q.e.y), ez(q.e.z);
  auto row = [&](const Point& p, T* x, T* y, T* z, T* lift) {
    *x = T(p.x) - ex;
    *y = T(p.y) - ey;
    *z = T(p.z) - ez;
    *lift = *x * *x + *y * *y + *z * *z;
  };
  T ax, ay, az, al, bx, by, bz, bl, cx, cy, cz, cl, dx, dy, dz, dl;
  row(q.a, &ax, &ay, &az, &al);
  row(q.b, &bx, &by, &bz, &bl);
  row(q.c, &cx, &cy, &cz, &cl);
  row(q.d, &dx, &dy, &dz, &dl);
  const T ab = ax * by - bx * ay, bc = bx * cy - cx * by;
  const T cd = cx * dy - dx * cy, da = dx * ay - ax * dy;
  const T ac = ax * cy - cx * ay, bd = bx * dy - dx * by;
  const T abc = az * bc - bz * ac + cz * ab;
  const T bcd = bz * cd - cz * bd + dz * bc;
  const T cda = cz * da + dz * ac + az * cd;
  const T dab = dz * ab + az * bd + bz * da;
  return (dl * abc - cl * dab) + (bl * cda - al * bcd);
}

using BoostInSphereFloat = boost::multiprecision::number<
    boost::multiprecision::cpp_bin_float<
        290, boost::multiprecision::digit_base_2>,
    boost::multiprecision::et_off>;
int Sign(const BoostInSphereFloat& v) { return v.sign(); }

template <class T>
int InSphereSign(const Quint& q) {
  return Sign(InSphere<T>(q));
}

// MPFR with variables allocated once; each stage's precision holds its
// exact values (limb-sized: 1, 2, 3 and 5 limbs).
class MpfrInSphere {
 public:
  MpfrInSphere() {
    Init(coord_, 53);
    Init(diff_, 54);
    Init(square_, 108);
    Init(lift_, 112);
    Init(prod_, 110);
    Init(minor2_, 110);
    Init(term3_, 170);
    Init(minor3_, 170);
    Init(term4_, 290);
    Init(det_, 290);
  }
  MpfrInSphere(const MpfrInSphere&) = delete;
  MpfrInSphere& operator=(const MpfrInSphere&) = delete;
  ~MpfrInSphere() {
    Clear(coord_);
    Clear(diff_);
    Clear(square_);
    Clear(lift_);
    Clear(prod_);
    Clear(minor2_);
    Clear(term3_);
    Clear(minor3_);
    Clear(term4_);
    Clear(det_);
  }

  int Sign(const Quint& q) {
    const Point* points[5] = {&q.a, &q.b, &q.c, &q.d, &q.e};
    for (int p = 0; p < 5; ++p) {
      mpfr_set_d(coord_[3 * p], points[p]->x, MPFR_RNDN);
      mpfr_set_d(coord_[3 * p + 1], points[p]->y, MPFR_RNDN);
      mpfr_set_d(coord_[3 * p + 2], points[p]->z, MPFR_RNDN);
    }
    // diff_[3 * p + k]: coordinate k of point p minus that of e.
    for (int i = 0; i < 12; ++i) {
      mpfr_sub(diff_[i], coord_[i], coord_[12 + i % 3], MPFR_RNDN);
    }
    for (int p = 0; p < 4; ++p) {
      for (int k = 0; k < 3; ++k) {
        mpfr_sqr(square_[k], diff_[3 * p + k], MPFR_RNDN);
      }
      mpfr_add(lift_[p], square_[0], square_[1], MPFR_RNDN);
      mpfr_add(lift_[p], lift_[p], square_[2], MPFR_RNDN);
    }
    // 2x2 minors of the x and y columns: ab, bc, cd, da, ac, bd.
    static constexpr int kPairs[6][2] = {{0, 1}, {1, 2}, {2, 3},
                                         {3, 0}, {0, 2}, {1, 3}};
    for (int m = 0; m < 6; ++m) {
      const int r = kPairs[m][0], t = kPairs[m][1];
      mpfr_mul(prod_[0], diff_[3 * r], diff_[3 * t + 1], MPFR_RNDN);
      mpfr_mul(prod_[1], diff_[3 * t], diff_[3 * r + 1], MPFR_RNDN);
      mpfr_sub(minor2_[m], prod_[0], prod_[1], MPFR_RNDN);
    }
    // abc = az bc - bz ac + cz ab; bcd = bz cd - cz bd + dz bc;
    // cda = cz da + dz ac + az cd; dab = dz ab + az bd + bz da.
    static constexpr struct {
      int z[3], minor[3], sign[3];
    } kTerms[4] = {{{0, 1, 2}, {1, 4, 0}, {1, -1, 1}},
                   {{1, 2, 3}, {2, 5, 1}, {1, -1, 1}},
                   {{2, 3, 0}, {3, 4, 2}, {1, 1, 1}},
                   {{3, 0, 1}, {0, 5, 3}, {1, 1, 1}}};
    for (int t = 0; t < 4; ++t) {
      mpfr_set_zero(minor3_[t], 1);
      for (int k = 0; k < 3; ++k) {
        mpfr_mul(term3_[0], diff_[3 * kTerms[t].z[k] + 2],
                 minor2_[kTerms[t].minor[k]], MPFR_RNDN);
        if (kTerms[t].sign[k] > 0) {
          mpfr_add(minor3_[t], minor3_[t], term3_[0], MPFR_RNDN);
        } else {
          mpfr_sub(minor3_[t], minor3_[t], term3_[0], MPFR_RNDN);
        }
      }
    }
    // (dl abc - cl dab) + (bl cda - al bcd)
    mpfr_mul(term4_[0], lift_[3], minor3_[0], MPFR_RNDN);
    mpfr_mul(term4_[1], lift_[2], minor3_[3], MPFR_RNDN);
    mpfr_sub(det_[0], term4_[0], term4_[1], MPFR_RNDN);
    mpfr_mul(term4_[0], lift_[1], minor3_[2], MPFR_RNDN);
    mpfr_mul(term4_[1], lift_[0], minor3_[1], MPFR_RNDN);
    mpfr_sub(term4_[0], term4_[0], term4_[1], MPFR_RNDN);
    mpfr_add(det_[0], det_[0], term4_[0], MPFR_RNDN);
    return mpfr_sgn(det_[0]);
  }

 private:
  template <size_t n>
  static void Init(mpfr_t (&group)[n], mpfr_prec_t prec) {
    for (mpfr_t& v : group) mpfr_init2(v, prec);
  }
  template <size_t n>
  static void Clear(mpfr_t (&group)[n]) {
    for (mpfr_t& v : group) mpfr_clear(v);
  }

  mpfr_t coord_[15], diff_[12];
  mpfr_t square_[3], lift_[4], prod_[2], minor2_[6], term3_[1], minor3_[4],
      term4_[2], det_[1];
};

bool InSphereSignsAgree(const char* set_name,
                        const std::vector<Quint>& quints) {
  MpfrInSphere mpfr;
  int double_wrong = 0;
  for (const Quint& q : quints) {
    const int s = InSphereSign<ExactFloat>(q);
    const int others[] = {mpfr.Sign(q), InSphereSign<GmpFloat>(q),
                          InSphereSign<RawBn>(q),
                          InSphereSign<BoostInSphereFloat>(q)};
    for (int o : others) {
      if (o != s) {
        fprintf(stderr, "%s: exact in-sphere signs disagree\n", set_name);
        return false;
      }
    }
    double_wrong += InSphereSign<double>(q) != s;
  }
  fprintf(stderr,
          "%s: exact in-sphere signs agree on %d inputs; double is wrong on "
          "%d\n",
          set_name, kQuads, double_wrong);
  return true;
}

template <class T>
void BM_InSphere(benchmark::State& state, const std::vector<Quint>* quints) {
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(InSphereSign<T>((*quints)[i++ % kQuads]));
  }
}

void BM_InSphereMpfr(benchmark::State& state,
                     const std::vector<Quint>* quints) {
  MpfrInSphere mpfr;
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mpfr.Sign((*quints)[i++ % kQuads]));
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
  static const std::vector<Quint> uniform5 = UniformQuints();
  static const std::vector<Quint> cospherical = CosphericalQuints();
  if (!InSphereSignsAgree("Uniform", uniform5) ||
      !InSphereSignsAgree("Cospherical", cospherical)) {
    return 1;
  }
  for (const auto& [name, set] : {std::pair{"Uniform", &uniform5},
                                  std::pair{"Cospherical", &cospherical}}) {
    const std::string prefix = std::string("InSphere/") + name + "/";
    benchmark::RegisterBenchmark((prefix + "ExactFloat").c_str(),
                                 BM_InSphere<ExactFloat>, set);
    benchmark::RegisterBenchmark((prefix + "MPFR").c_str(), BM_InSphereMpfr,
                                 set);
    benchmark::RegisterBenchmark((prefix + "GMP").c_str(),
                                 BM_InSphere<GmpFloat>, set);
    benchmark::RegisterBenchmark((prefix + "BoringSSL").c_str(),
                                 BM_InSphere<RawBn>, set);
    benchmark::RegisterBenchmark((prefix + "Boost").c_str(),
                                 BM_InSphere<BoostInSphereFloat>, set);
    benchmark::RegisterBenchmark((prefix + "double").c_str(),
                                 BM_InSphere<double>, set);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
