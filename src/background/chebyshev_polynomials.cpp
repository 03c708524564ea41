// The Chebyshev polynomials of the first kind T0 … T12, each written out in
// expanded power form (the integer coefficients of T_n(u) = cos(n arccos u),
// from T_{n+1} = 2u T_n − T_{n−1}) and evaluated from a table of the powers
// u⁰ … u¹² of one position. No recurrence is run at evaluation time.
#include "background/background.hpp"

namespace powderkit {

namespace {

double chebyshevT0(const double *p) { return p[0]; }
double chebyshevT1(const double *p) { return p[1]; }
double chebyshevT2(const double *p) { return 2.0 * p[2] - p[0]; }
double chebyshevT3(const double *p) { return 4.0 * p[3] - 3.0 * p[1]; }
double chebyshevT4(const double *p) { return 8.0 * p[4] - 8.0 * p[2] + p[0]; }
double chebyshevT5(const double *p) { return 16.0 * p[5] - 20.0 * p[3] + 5.0 * p[1]; }
double chebyshevT6(const double *p) {
    return 32.0 * p[6] - 48.0 * p[4] + 18.0 * p[2] - p[0];
}
double chebyshevT7(const double *p) {
    return 64.0 * p[7] - 112.0 * p[5] + 56.0 * p[3] - 7.0 * p[1];
}
double chebyshevT8(const double *p) {
    return 128.0 * p[8] - 256.0 * p[6] + 160.0 * p[4] - 32.0 * p[2] + p[0];
}
double chebyshevT9(const double *p) {
    return 256.0 * p[9] - 576.0 * p[7] + 432.0 * p[5] - 120.0 * p[3] + 9.0 * p[1];
}
double chebyshevT10(const double *p) {
    return 512.0 * p[10] - 1280.0 * p[8] + 1120.0 * p[6] - 400.0 * p[4] + 50.0 * p[2] - p[0];
}
double chebyshevT11(const double *p) {
    return 1024.0 * p[11] - 2816.0 * p[9] + 2816.0 * p[7] - 1232.0 * p[5] + 220.0 * p[3] -
           11.0 * p[1];
}
double chebyshevT12(const double *p) {
    return 2048.0 * p[12] - 6144.0 * p[10] + 6912.0 * p[8] - 3584.0 * p[6] + 840.0 * p[4] -
           72.0 * p[2] + p[0];
}

}  // namespace

const ChebyshevPolynomial chebyshevPolynomials[PK_BACKGROUND_COEFFICIENTS] = {
    chebyshevT0, chebyshevT1, chebyshevT2,  chebyshevT3,  chebyshevT4,
    chebyshevT5, chebyshevT6, chebyshevT7,  chebyshevT8,  chebyshevT9,
    chebyshevT10, chebyshevT11, chebyshevT12,
};

}  // namespace powderkit
