// Conversions: angles and times between packed sexagesimal forms (DMS, HMS, DM), seconds,
// decimal degrees or hours, and radians.
//
// Every formula is evaluated left to right in double precision, exactly as written, so results
// are reproducible bit for bit. Integer parts truncate toward zero; they are taken in 64 bits
// (saturating at +-(2^63 - 1), NaN giving 0 so that NaN propagates through the double terms),
// and multiples of them are formed in double, which is exact wherever the 32-bit forms were
// defined and free of overflow everywhere else.
#include <cmath>
#include <cstdint>

#include "qrcore/convert.h"

namespace {

// The value of pi the stored data were made with: twelve decimals, not full precision.
constexpr double kPi = 3.141592653589;

int64_t intPart(double x) {
    if (std::isnan(x)) return 0;
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (x >= kLimit) return INT64_MAX;
    if (x <= -kLimit) return -INT64_MAX;  // symmetric, so that f(-x) = -f(x) holds here too
    return static_cast<int64_t>(x);
}

double toDouble(int64_t llValue) { return static_cast<double>(llValue); }

// Seconds -> packed D/H, M, S: s + 40 * (s/60 + 100 * (s/3600)) with integer divisions.
double secondsToPacked(double x) {
    const int64_t i = intPart(x);
    return x + 40.0 * toDouble(i / 60 + 100 * (i / 3600));
}

// Packed D/H, M, S -> seconds: p - 40 * (p/100 + 60 * (p/10000)) with integer divisions.
double packedToSeconds(double x) {
    const int64_t i = intPart(x);
    return x - 40.0 * toDouble(i / 100 + 60 * (i / 10000));
}

}  // namespace

extern "C" {

QR_API double QR_CALL SecondToHMS(double x) { return secondsToPacked(x); }
QR_API double QR_CALL HMSToSecond(double x) { return packedToSeconds(x); }
QR_API double QR_CALL HMSToHour(double x) { return packedToSeconds(x) / 3600.0; }
QR_API double QR_CALL HourToHMS(double x) { return secondsToPacked(x * 3600.0); }

QR_API double QR_CALL SecondToDMS(double x) { return secondsToPacked(x); }
QR_API double QR_CALL DMSToSecond(double x) { return packedToSeconds(x); }
QR_API double QR_CALL DMSToDegree(double x) { return packedToSeconds(x) / 3600.0; }
QR_API double QR_CALL DegreeToDMS(double x) { return secondsToPacked(x * 3600.0); }
QR_API double QR_CALL DMSToRadian(double x) { return packedToSeconds(x) * kPi / 648000.0; }
QR_API double QR_CALL RadianToDMS(double x) { return secondsToPacked(x * 180.0 * 3600.0 / kPi); }

QR_API double QR_CALL DegreeToRadian(double x) { return x * kPi / 180.0; }
QR_API double QR_CALL RadianToDegree(double x) { return x * 180.0 / kPi; }
QR_API double QR_CALL SecondToRadian(double x) { return x * kPi / 648000.0; }
QR_API double QR_CALL RadianToSecond(double x) { return x * 180.0 * 3600.0 / kPi; }

QR_API double QR_CALL DMToDegree(double x) {
    const int64_t i = intPart(x);
    return (x - 40.0 * toDouble(i / 100)) / 60.0;
}

QR_API double QR_CALL DegreeToDM(double x) { return 60.0 * x + 40.0 * toDouble(intPart(x)); }

QR_API double QR_CALL DMToRadian(double x) {
    const double d = DMToDegree(x);
    return d * kPi / 180.0;
}

QR_API double QR_CALL RadianToDM(double x) {
    const double d = x * 180.0 / kPi;
    return 60.0 * d + 40.0 * toDouble(intPart(d));
}

QR_API double QR_CALL DMToDMS(double x) {
    const double dInt = toDouble(intPart(x));
    return 100.0 * dInt + (x - dInt) * 60.0;
}

QR_API double QR_CALL DMSToDM(double x) {
    const double dInt = toDouble(intPart(x * 0.01));
    return dInt + (x - 100.0 * dInt) / 60.0;
}

}  // extern "C"
