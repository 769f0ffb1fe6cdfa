#pragma once

#include <QString>

// The price adjustment of the export: every price becomes price × factor + amount, rounded to two
// decimals (half away from zero), computed in exact decimal arithmetic so that 2.675 rounds as a
// seller reckons it. A negative result becomes 0.00.
struct TPriceAdjustment {
    double Factor = 1;
    double Amount = 0;
    // Factor 1 and amount 0 (or values outside their ranges): prices are left exactly as written.
    bool IsIdentity() const { return Factor == 1 && Amount == 0; }
};

// The price text with every number in it adjusted ("28.00-35.00" → both ends); the other
// characters stay. A text without a number (empty, "面议") and a number too long to be a price
// (over 12 digits before the point or 6 after it) stay as they are.
QString AdjustPrice(const QString& price, const TPriceAdjustment& adjustment);
