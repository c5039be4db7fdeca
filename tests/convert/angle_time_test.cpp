// Angle and time conversions: the documented examples, a literal 32-bit transcription of the
// formulas as reference, round trips, sign symmetry and arguments beyond 32 bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>

#include "qrcore/convert.h"

namespace {

// The formulas exactly as defined, with 32-bit integer parts and integer brackets; valid for
// arguments whose integer parts and brackets fit 32 bits.
namespace ref {
const double kPi = 3.141592653589;
double secToPacked(double x) {
    const int32_t i = static_cast<int32_t>(x);
    return x + 40 * (i / 60 + 100 * (i / 3600));
}
double packedToSec(double x) {
    const int32_t i = static_cast<int32_t>(x);
    return x - 40 * (i / 100 + 60 * (i / 10000));
}
double dmToDegree(double x) {
    const int32_t i = static_cast<int32_t>(x);
    return (x - 40 * (i / 100)) / 60;
}
double degreeToDm(double x) { return 60 * x + 40 * static_cast<int32_t>(x); }
double dmToDms(double x) {
    const int32_t i = static_cast<int32_t>(x);
    return 100 * i + (x - i) * 60;
}
double dmsToDm(double x) {
    const int32_t j = static_cast<int32_t>(x * 0.01);
    return j + (x - 100 * j) / 60;
}
}  // namespace ref

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(AngleTime, DocumentedExamples) {
    EXPECT_EQ(SecondToHMS(65), 105);
    EXPECT_EQ(HMSToSecond(105), 65);
    EXPECT_EQ(SecondToHMS(65.5), 105.5);
    EXPECT_EQ(SecondToDMS(65.5), 105.5);
    EXPECT_DOUBLE_EQ(DegreeToDMS(0.025), 130);
    EXPECT_DOUBLE_EQ(DMSToDegree(130), 0.025);
    EXPECT_EQ(DMSToSecond(-130), -90);
    EXPECT_DOUBLE_EQ(DMToDegree(130.5), 1.5083333333333333);
    EXPECT_NEAR(DegreeToDM(DMToDegree(130.5)), 130.5, 1e-12);
    EXPECT_EQ(DMSToDM(130), 1.5);
    EXPECT_EQ(DMToDMS(1.5), 130);
    EXPECT_EQ(HMSToHour(13000), 1.5);    // 1 h 30 min
    EXPECT_EQ(HourToHMS(1.5), 13000);
    EXPECT_EQ(SecondToHMS(3600 * 23 + 60 * 59 + 59), 235959);
    EXPECT_EQ(HMSToSecond(60), 60);      // a seconds field of 60 is taken as it is
    EXPECT_EQ(SecondToHMS(59.9999), 59.9999);  // no rounding or carrying
}

TEST(AngleTime, RadiansUseTheTwelveDecimalPi) {
    const double dPi = DegreeToRadian(180);
    uint64_t nBits = 0;
    std::memcpy(&nBits, &dPi, sizeof dPi);
    EXPECT_EQ(nBits, 0x400921FB5444261EULL);
    EXPECT_NE(dPi, std::numbers::pi);
    EXPECT_EQ(RadianToDegree(dPi), 180);
    EXPECT_EQ(SecondToRadian(648000), dPi);
    EXPECT_EQ(RadianToSecond(dPi), 648000);
    EXPECT_EQ(DMSToRadian(1800000), dPi);  // 180 degrees packed
    EXPECT_DOUBLE_EQ(RadianToDMS(dPi), 1800000);
    EXPECT_EQ(DMToRadian(18000), dPi);    // 180 degrees 0 minutes
    EXPECT_DOUBLE_EQ(RadianToDM(dPi), 18000);
}

TEST(AngleTime, BitExactAgainstTheFormulasOnRandomArguments) {
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> wide(-1.0e9, 1.0e9), angle(-400.0, 400.0),
        packed(-3.6e8, 3.6e8), radian(-10.0, 10.0);
    for (int nRound = 0; nRound < 20000; ++nRound) {
        const double s = wide(rng), d = angle(rng), p = packed(rng), r = radian(rng);
        SCOPED_TRACE(::testing::Message() << s << ' ' << d << ' ' << p << ' ' << r);
        ASSERT_TRUE(sameBits(SecondToHMS(s), ref::secToPacked(s)));
        ASSERT_TRUE(sameBits(SecondToDMS(s), ref::secToPacked(s)));
        ASSERT_TRUE(sameBits(HMSToSecond(p), ref::packedToSec(p)));
        ASSERT_TRUE(sameBits(DMSToSecond(p), ref::packedToSec(p)));
        ASSERT_TRUE(sameBits(HMSToHour(p), ref::packedToSec(p) / 3600));
        ASSERT_TRUE(sameBits(DMSToDegree(p), ref::packedToSec(p) / 3600));
        ASSERT_TRUE(sameBits(HourToHMS(d), ref::secToPacked(d * 3600)));
        ASSERT_TRUE(sameBits(DegreeToDMS(d), ref::secToPacked(d * 3600)));
        ASSERT_TRUE(sameBits(DMSToRadian(p), ref::packedToSec(p) * ref::kPi / 648000));
        ASSERT_TRUE(sameBits(RadianToDMS(r), ref::secToPacked(r * 180 * 3600 / ref::kPi)));
        ASSERT_TRUE(sameBits(DegreeToRadian(d), d * ref::kPi / 180));
        ASSERT_TRUE(sameBits(RadianToDegree(r), r * 180 / ref::kPi));
        ASSERT_TRUE(sameBits(SecondToRadian(s), s * ref::kPi / 648000));
        ASSERT_TRUE(sameBits(RadianToSecond(r), r * 180 * 3600 / ref::kPi));
        ASSERT_TRUE(sameBits(DMToDegree(p), ref::dmToDegree(p)));
        ASSERT_TRUE(sameBits(DegreeToDM(d), ref::degreeToDm(d)));
        const double dDeg = ref::dmToDegree(p);
        ASSERT_TRUE(sameBits(DMToRadian(p), dDeg * ref::kPi / 180));
        const double dFromRad = r * 180 / ref::kPi;
        ASSERT_TRUE(sameBits(RadianToDM(r), ref::degreeToDm(dFromRad)));
        ASSERT_TRUE(sameBits(DMToDMS(p / 100), ref::dmToDms(p / 100)));
        ASSERT_TRUE(sameBits(DMSToDM(p), ref::dmsToDm(p)));
    }
}

TEST(AngleTime, PackedFormsRoundTrip) {
    std::mt19937_64 rng(77);
    std::uniform_int_distribution<int> degrees(0, 359), minutes(0, 59), centiseconds(0, 5999);
    for (int nRound = 0; nRound < 20000; ++nRound) {
        const int nD = degrees(rng), nM = minutes(rng);
        const double dS = centiseconds(rng) / 100.0;
        const double dPacked = nD * 10000.0 + nM * 100.0 + dS;
        const double dSeconds = nD * 3600.0 + nM * 60.0 + dS;
        SCOPED_TRACE(dPacked);
        ASSERT_NEAR(DMSToSecond(dPacked), dSeconds, 1e-7);
        ASSERT_NEAR(SecondToDMS(dSeconds), dPacked, 1e-7);
        ASSERT_NEAR(SecondToDMS(DMSToSecond(dPacked)), dPacked, 1e-7);
        ASSERT_NEAR(HMSToSecond(SecondToHMS(dSeconds)), dSeconds, 1e-7);
        ASSERT_NEAR(DegreeToDMS(DMSToDegree(dPacked)), dPacked, 1e-6);
        ASSERT_NEAR(RadianToDMS(DMSToRadian(dPacked)), dPacked, 1e-6);
        const double dDM = nD * 100.0 + nM + dS / 60.0;  // the same angle as DM
        ASSERT_NEAR(DMSToDM(dPacked), dDM, 1e-9);
        ASSERT_NEAR(DMToDMS(dDM), dPacked, 1e-7);
        ASSERT_NEAR(DegreeToDM(DMToDegree(dDM)), dDM, 1e-9);
        ASSERT_NEAR(RadianToDM(DMToRadian(dDM)), dDM, 1e-9);
    }
}

TEST(AngleTime, PackedConversionsAreSignSymmetric) {
    double(QR_CALL* const functions[])(double) = {
        SecondToHMS, HMSToSecond, HMSToHour, HourToHMS, SecondToDMS, DMSToSecond, DMSToDegree,
        DegreeToDMS, DMSToRadian, RadianToDMS, DegreeToRadian, RadianToDegree, SecondToRadian,
        RadianToSecond, DMToDegree, DegreeToDM, DMToRadian, RadianToDM, DMToDMS, DMSToDM,
    };
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> value(0, 1.0e9);
    const double special[] = {0.0, 0.5, 59.9999, 1.0e9, 3.0e9, 1.0e15, 1.0e19, 1.0e300,
                              std::numeric_limits<double>::infinity()};
    for (int nF = 0; nF < 20; ++nF) {
        SCOPED_TRACE(nF);
        for (int nRound = 0; nRound < 2000; ++nRound) {
            const double x = value(rng);
            ASSERT_EQ(functions[nF](-x), -functions[nF](x)) << x;
        }
        for (double x : special) ASSERT_EQ(functions[nF](-x), -functions[nF](x)) << x;
    }
}

TEST(AngleTime, ArgumentsBeyondThirtyTwoBits) {
    // Integer parts are taken in 64 bits: the packing stays exact well past 2^31 seconds.
    EXPECT_EQ(SecondToDMS(1.0e12), 2777777774640.0);  // 277777777 deg 46 min 40 s
    EXPECT_EQ(DMSToSecond(2777777774640.0), 1.0e12);
    EXPECT_EQ(SecondToHMS(-5.0e9), -13888885320.0);   // 1388888 h 53 min 20 s
    EXPECT_EQ(DegreeToDM(3.0e9), 3.0e11);
    EXPECT_EQ(DMToDegree(300000000000.0), 3.0e9);
    EXPECT_EQ(DMSToDM(30000000000.0), 3.0e6 * 100);
    EXPECT_EQ(DMToDMS(3.0e9), 3.0e11);
    // Saturated beyond 2^63; infinities stay infinite; NaN stays NaN.
    const double dInf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(SecondToDMS(dInf), dInf);
    EXPECT_EQ(DMSToSecond(-dInf), -dInf);
    EXPECT_EQ(DegreeToDM(dInf), dInf);
    EXPECT_TRUE(std::isfinite(SecondToDMS(1.0e300)));
    double(QR_CALL* const functions[])(double) = {SecondToHMS, HMSToSecond, DMToDegree, DegreeToDM,
                                            DMToDMS, DMSToDM, RadianToDM, DMToRadian};
    for (auto* f : functions) EXPECT_TRUE(std::isnan(f(std::nan(""))));
}

}  // namespace
