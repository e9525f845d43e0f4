#pragma once
// Physical constants and surds of the model.
namespace mps {

// Physical constants as the solver stores them.  The surds and 2*pi are
// single-precision values widened to double: results are compared with
// earlier runs to many digits, so these exact doubles are part of the model.
namespace constants {
inline constexpr double c0 = 299792458.0;                   // speed of light [m/s]
inline constexpr double hbar = 1.054571596e-34;             // [J s]
inline constexpr double two_hbar = 2.109143192e-34;         // [J s]
inline constexpr double hc = 1.986445494922679e-25;         // h*c [J m]
inline constexpr double electron_volt = 1.6e-19;            // [J]
inline constexpr double eps0 = 8.854187817e-12;             // [F/m]
inline constexpr double mu0 = 1.2566370615239666e-06;       // [H/m]
inline constexpr double hbar_eps0 = 9.337374977457447e-46;  // hbar*eps0
inline constexpr double bohr_magneton = 9.2740100783e-24;   // muB [J/T], CODATA 2018
inline constexpr double two_pi = 6.2831854820251465;        // float(2*pi)
inline constexpr double fwhm_factor = 1.6651092767715454;   // float(2*sqrt(ln 2))
inline constexpr double sqrt2 = 1.4142135381698608;
inline constexpr double two_sqrt2 = 2.8284270763397217;
inline constexpr double three_sqrt2 = 4.2426406145095825;
inline constexpr double four_sqrt2 = 5.656854152679443;
inline constexpr double twelve_sqrt2 = 16.970561981201172;
inline constexpr double sqrt3 = 1.7320507764816284;
inline constexpr double two_sqrt3 = 3.464101552963257;
inline constexpr double four_sqrt3 = 6.928203105926514;
inline constexpr double sqrt6 = 2.4494898319244385;
inline constexpr double two_sqrt6 = 4.898979663848877;
inline constexpr double four_sqrt6 = 9.797959327697754;
}  // namespace constants

// Field and medium values of smaller magnitude are stored as 0 after each
// step: they would otherwise decay into subnormals, which cost a hundred
// times a normal operation where flush-to-zero is not set.
inline constexpr double kFlushBelow = 1e-120;

}  // namespace mps
