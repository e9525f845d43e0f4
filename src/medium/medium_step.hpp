#pragma once
// What one step J of the medium shares among all its cells: F and B, the
// decay factors, the driven pairs' current coefficients, the classes'
// terms; and the population block of a cell, kept per flag pattern.
#include <array>
#include <cstdint>
#include <vector>

#include "medium/dot_batch.hpp"
#include "medium/lanes.hpp"
#include "medium/medium_parameters.hpp"
#include "medium/medium_state.hpp"
#include "medium/pseudospin.hpp"
#include "medium/transitions.hpp"

namespace mps {

// What the spectral classes of a broadened ensemble take from a step,
// per chunk of kBatchLanes classes (lanes past the last class weigh 0 and
// copy the last class): the step's F and B entries of every term, each
// class's precession at its own detuning (kClassTerms per chunk); its
// weight, which scales its current coefficients, and its weight times its
// detuning over Delta, which scales those of its precession.
struct ClassStep {
  std::vector<Lanes> terms;
  std::vector<Lanes> weight, tuned_weight;
};

// Everything of one step J that is the same for every cell.
struct MediumStep {
  double t = 0.0;  // (J + 0.5) dt [s]
  double dt = 0.0;
  StepCoefficients coeffs;  // F and B
  StepTerms terms;          // F and B as the dot batches use them
  DecayFactors decay;       // exp(-t/T_k) now and one step before
  PairStep pair12;          // current coefficients of 1<->2 (kPair12)
  PairStep pair34;          // of 3<->4 when it is driven (kPair34)
  ZeemanStep zeeman;        // with a magnetic field
  ClassStep classes;        // of a broadened ensemble
};

void prepare_medium_step(const MediumParameters& mp, std::int64_t J, double dt, MediumStep& step);

// The population block of a dot cell with flags `occ` and equilibrium `eq`
// at t = (J + 0.5) dt.  Corrected model: the rate equations, a channel out
// of an empty level off.  Legacy model: the written equations, which move
// population at half the configured rates, with their switching rule.
PopulationCoupling cell_population_coupling(const MediumParameters& mp, const PopulationFlags& occ,
                                            double t, const Diagonal& eq);

// cell_population_coupling's result depends on the cell only through its flags (which
// switch the transfer times) and its equilibrium values, and most dot cells
// share both: each thread keeps the last result per flag pattern for the step.
class CouplingCache {
 public:
  const PopulationCoupling& get(const MediumParameters& mp, const MediumStep& step,
                                std::uint8_t flag_bits, const Diagonal& eq);

 private:
  struct Entry {
    bool valid = false;
    Diagonal eq;
    PopulationCoupling value;
  };
  std::array<Entry, 16> entries_{};
};

}  // namespace mps
