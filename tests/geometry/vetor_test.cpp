#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "geometry/geometry.hpp"

namespace fotolume {
namespace {

TEST(Vetor, NormalizeMultipliesByTheReciprocal) {
    Vetor v(3, 4, 0);
    normalize(v);
    // 3 * (double nearest 0.2) is the double just above 0.6; 3 / 5 would
    // give the double nearest 0.6.
    EXPECT_EQ(v[0], 3 * 0.2);
    EXPECT_NE(v[0], 0.6);
    EXPECT_EQ(v[0], std::nextafter(0.6, 1.0));
    EXPECT_EQ(v[1], 0.8);
    EXPECT_EQ(v[2], 0.0);
}

TEST(Vetor, CopiesAndAssignmentsOwnTheirBlocks) {
    Vetor source(1, 2, 3);
    {
        Vetor copy(source);
        copy[0] = 9;
        EXPECT_EQ(source[0], 1);
    }  // destroying the copy leaves the source intact
    EXPECT_EQ(source[2], 3);

    Vetor target;
    target = source;
    target[1] = 7;
    EXPECT_EQ(source[1], 2);

    Vetor& alias = source;
    source = alias;
    EXPECT_EQ(source[0], 1);
    EXPECT_EQ(source[1], 2);
    EXPECT_EQ(source[2], 3);

    const double a[3] = {4, 5, 6};
    Vetor fromArray(a);
    EXPECT_EQ(fromArray[2], 6);
    EXPECT_EQ(Vetor()[0], 0);
}

TEST(Vetor, OperationsKeepOperandOrder) {
    const Vetor a(0.1, 0.7, -3);
    const Vetor b(0.3, 1e-17, 2);
    const Vetor left = scale(0.37, a);
    const Vetor right = scale(a, 0.37);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(left[i], right[i]);

    const Vetor d = subtract(a, b);
    EXPECT_EQ(d[0], 0.1 - 0.3);
    const Vetor s = add(a, b);
    EXPECT_EQ(s[1], 0.7 + 1e-17);

    const Vetor z = cross(Vetor(1, 0, 0), Vetor(0, 1, 0));
    EXPECT_EQ(z[2], 1);
    const Vetor negZ = cross(Vetor(0, 1, 0), Vetor(1, 0, 0));
    EXPECT_EQ(negZ[2], -1);
    const Vetor self = cross(a, a);
    EXPECT_EQ(self[0], 0);
    EXPECT_EQ(self[1], 0);
    EXPECT_EQ(self[2], 0);

    // Sums run component 0, 1, 2 from +0.0: (1 + 1e16) - 1e16 is 0, while
    // 1 + (1e16 - 1e16) would be 1.
    const Vetor big(1, 1e16, -1e16);
    const Vetor ones(1, 1, 1);
    EXPECT_EQ(dot(big, ones), 0.0);
    EXPECT_EQ(dot(Vetor(), Vetor()), 0);
    EXPECT_FALSE(std::signbit(dot(Vetor(-0.0, 0, 0), Vetor(1, 1, 1))));
    EXPECT_EQ(length(Vetor()), 0);
    const double x = 1e-3, y = 2e-3;
    EXPECT_EQ(length(Vetor(x, y, y)), std::sqrt((x * x + y * y) + y * y));
}

// Vec3 stands in for Vetor in the tracer: every operation must give the
// same bits, including the cases above where an order or a rounding shows.
TEST(Vetor, Vec3GivesTheSameBits) {
    const Vetor rows[][2] = {{Vetor(3, 4, 0), Vetor(1, 1, 1)},
                             {Vetor(1, 1e16, -1e16), Vetor(1, 1, 1)},
                             {Vetor(-0.0, 0, 0), Vetor(1, 1, 1)},
                             {Vetor(0.1, 0.7, -3), Vetor(0.3, 1e-17, 2)},
                             {Vetor(1e-300, 3e-310, 1e300), Vetor(-2.5, 1e-320, 7)}};
    auto same = [](const Vetor& v, const Vec3& w) {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(std::memcmp(&v[i], &w[i], sizeof(double)), 0) << v[i] << " " << w[i];
    };
    for (const auto& [a, b] : rows) {
        const Vec3 pa = plain(a), pb = plain(b);
        same(add(a, b), add(pa, pb));
        same(subtract(a, b), subtract(pa, pb));
        same(scale(0.37, a), scale(0.37, pa));
        const double dv = dot(a, b), dw = dot(pa, pb);
        const double lv = length(a), lw = length(pa);
        EXPECT_EQ(std::memcmp(&dv, &dw, sizeof dv), 0);
        EXPECT_EQ(std::memcmp(&lv, &lw, sizeof lv), 0);
        Vetor nv = a;
        Vec3 nw = pa;
        normalize(nv);
        normalize(nw);
        same(nv, nw);
        same(toVetor(pa), pa);
    }
}

}  // namespace
}  // namespace fotolume
