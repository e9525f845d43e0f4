#include "medium/medium_step.hpp"

#include <algorithm>
#include <bit>

namespace mps {

PopulationCoupling cell_population_coupling(const MediumParameters& mp, const PopulationFlags& occ,
                                            double t, const Diagonal& eq) {
  if (mp.model == Model::legacy) {
    return population_coupling(working_tau(mp.tau, occ), mp.gamma, t, eq.u13, eq.u14, eq.u15);
  }
  return rate_equation_coupling(working_channels(mp.channels, occ), mp.T, t, eq.u13, eq.u14,
                                eq.u15);
}

namespace {

// The classes' part of the step (ClassStep): each class's terms as the
// step's, those of a precession pair scaled by the class's detuning over
// Delta.
template <const auto& Terms>
void prepare_class_step(const MediumParameters& mp, MediumStep& step) {
  using equations::Coupling;
  const auto K = static_cast<int>(mp.classes.size());
  const auto chunks = static_cast<std::size_t>((K + kBatchLanes - 1) / kBatchLanes);
  ClassStep& cs = step.classes;
  cs.terms.resize(chunks * kClassTerms);
  cs.weight.resize(chunks);
  cs.tuned_weight.resize(chunks);
  for (std::size_t c = 0; c < chunks; ++c) {
    for (int l = 0; l < kBatchLanes; ++l) {
      const int n = static_cast<int>(c) * kBatchLanes + l;
      const SpectralClass& q = mp.classes[static_cast<std::size_t>(std::min(n, K - 1))];
      const double ratio = (mp.detuning + q.offset) / mp.detuning;
      const double weight = n < K ? q.weight : 0.0;
      cs.weight[c][l] = weight;
      cs.tuned_weight[c][l] = weight * ratio;
      for (std::size_t I = 0; I < Terms.size(); ++I) {
        const Coupling coupling = Terms[I].coupling;
        const bool precession =
            coupling == Coupling::detuning || coupling == Coupling::minus_detuning;
        const double v = step.terms.step[I];
        cs.terms[c * kClassTerms + I][l] = precession ? v * ratio : v;
      }
    }
  }
}

}  // namespace

void prepare_medium_step(const MediumParameters& mp, std::int64_t J, double dt, MediumStep& step) {
  step.dt = dt;
  step.t = (static_cast<double>(J) + 0.5) * dt;
  const double t = step.t;
  const double p34 = mp.both_transitions ? mp.dipole34 : 0.0;
  step_coefficients(t, mp.detuning, mp.dipole, mp.T, step.coeffs, p34);
  if (mp.zeeman) {
    zeeman_coefficients(t, mp.detuning, mp.larmor, mp.T, step.coeffs);
    step.zeeman = zeeman_step(mp, t);
  }
  step.terms = step_terms(step.coeffs, mp.both_transitions, mp.zeeman);
  step.decay = decay_factors(J, dt, mp.T);
  step.pair12 = pair_step(kPair12, mp, t, step.decay);
  if (mp.both_transitions) step.pair34 = pair_step(kPair34, mp, t, step.decay);
  if (!mp.classes.empty()) {
    mp.both_transitions ? prepare_class_step<equations::kTermsBoth>(mp, step)
                        : prepare_class_step<equations::kTerms>(mp, step);
  }
}

namespace {

// Bit for bit: a cached result is reused only for the very same values.
bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace

const PopulationCoupling& CouplingCache::get(const MediumParameters& mp, const MediumStep& step,
                                             std::uint8_t flag_bits, const Diagonal& eq) {
  Entry& e = entries_[flag_bits & 15u];
  if (!e.valid || !same_bits(e.eq.u13, eq.u13) || !same_bits(e.eq.u14, eq.u14) ||
      !same_bits(e.eq.u15, eq.u15)) {
    e.value = cell_population_coupling(mp, unpack_flags(flag_bits), step.t, eq);
    e.eq = eq;
    e.valid = true;
  }
  return e.value;
}

}  // namespace mps
