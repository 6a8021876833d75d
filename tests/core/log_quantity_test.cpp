#include "core/log_quantity.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "core/log_catalogue.hpp"

namespace tolvat {
namespace {

LogUnit unit(const char* symbol) { return search_for_log_unit_name(symbol); }

// Carrying over goes through the ratio, so a round trip between units is not always exact.
TEST(LogQuantity, SumsAndDifferencesCarryTheRightOperandIntoTheLeftUnit) {
    const LogQuantity ten_db{unit("dB"), 10.0};
    const LogQuantity one_bel{unit("B"), 1.0};
    const LogQuantity twenty_db{unit("dB"), 20.0};

    const LogQuantity sum = log_sum(ten_db, one_bel);
    EXPECT_EQ(sum.unit, unit("dB"));
    EXPECT_EQ(sum.value, 20.0);  // 9.999999999999998 + 10 ties to 20

    const LogQuantity other_way = log_sum(one_bel, ten_db);
    EXPECT_EQ(other_way.unit, unit("B"));
    EXPECT_EQ(other_way.value, 2.0);

    EXPECT_EQ(log_difference(one_bel, ten_db).value, -2.220446049250313e-16);
    EXPECT_EQ(log_difference(twenty_db, twenty_db).value, -3.552713678800501e-15);
    EXPECT_EQ(log_difference(twenty_db, twenty_db).unit, unit("dB"));
}

TEST(LogQuantity, ScalingKeepsTheUnit) {
    const LogQuantity ten_db{unit("dB"), 10.0};
    EXPECT_EQ(log_scaled(ten_db, 2.0).value, 20.0);
    EXPECT_EQ(log_scaled(ten_db, 2.0).unit, unit("dB"));
    EXPECT_EQ(log_divided(ten_db, 4.0).value, 2.5);
    EXPECT_TRUE(std::isinf(log_divided(ten_db, 0.0).value));
    EXPECT_TRUE(std::signbit(log_scaled(ten_db, -0.0).value));
}

TEST(LogQuantity, ValueInTakesTheLogarithmOfTheRatio) {
    const LogQuantity one_neper{unit("Np"), 1.0};
    // log10(e): the ratio e of one neper in bels.
    EXPECT_EQ(one_neper.value_in(unit("B")), 0.43429448190325176);
    EXPECT_EQ((LogQuantity{unit("B"), 1.0}.value_in(unit("dB"))), 9.999999999999998);
}

}  // namespace
}  // namespace tolvat
