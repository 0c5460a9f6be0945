#include "chart_ordering.h"

#include "dp_scoring.h"

namespace {

constexpr int MaxSortPasses = ChartCount - 1;

unsigned char FoldCase(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool DateIsLater(const ChartRecord &x, const ChartRecord &y)
{
    if (x.year != y.year)
        return x.year > y.year;
    if (x.month != y.month)
        return x.month > y.month;
    return x.day > y.day;
}

bool SameDate(const ChartRecord &x, const ChartRecord &y)
{
    return x.year == y.year && x.month == y.month && x.day == y.day;
}

// The key's own order: whether x precedes y with the direction set. Equal values are
// settled by the tie-break key, always asked with the direction set.
bool OwnOrder(const ChartRecord &x, const ChartRecord &y, uint8_t key)
{
    auto byNameOnTie = [&](bool equal, bool precedes) {
        return equal ? ChartPrecedes(x, y, SortByName, true) : precedes;
    };
    switch (key) {
    case SortByName:
        return CompareNamesNoCase(y.name, x.name) > 0;
    case SortByDate:
        return byNameOnTie(SameDate(x, y), DateIsLater(x, y));
    case SortByAaAllowance:
        return byNameOnTie(x.aaAllowance == y.aaAllowance, x.aaAllowance < y.aaAllowance);
    case SortByRank:
    case SortByPercent: {
        uint16_t px = ChartPercent(x);
        uint16_t py = ChartPercent(y);
        return byNameOnTie(px == py, px > py);
    }
    case SortByDpLost:
        if (x.dpLost == y.dpLost)
            return ChartPrecedes(x, y, SortByPercent, true);
        return x.dpLost < y.dpLost;
    case SortByDifference: {
        int32_t dx = ChartDifference(x);
        int32_t dy = ChartDifference(y);
        return byNameOnTie(dx == dy, dx > dy);
    }
    default:
        return false;
    }
}

}  // namespace

int CompareNamesNoCase(const char *a, const char *b)
{
    const auto *pa = reinterpret_cast<const unsigned char *>(a);
    const auto *pb = reinterpret_cast<const unsigned char *>(b);
    while (*pa != 0 && FoldCase(*pa) == FoldCase(*pb)) {
        ++pa;
        ++pb;
    }
    return FoldCase(*pa) - FoldCase(*pb);
}

bool ChartPrecedes(const ChartRecord &x, const ChartRecord &y, uint8_t key, bool ascending)
{
    if (key > SortByDifference)
        return false;
    bool precedes = OwnOrder(x, y, key);
    return ascending ? precedes : !precedes;
}

int SortCharts(ChartOrder *order, uint8_t key, bool ascending)
{
    if (order == nullptr)
        return 0;
    ChartOrder &entries = *order;
    int pass = 1;
    for (; pass <= MaxSortPasses; ++pass) {
        bool exchanged = false;
        for (int j = 0; j <= ChartCount - 1 - pass; ++j) {
            if (ChartPrecedes(*entries[j + 1], *entries[j], key, ascending)) {
                ChartRecord *moved = entries[j];
                entries[j] = entries[j + 1];
                entries[j + 1] = moved;
                exchanged = true;
            }
        }
        if (!exchanged)
            return pass;
    }
    return MaxSortPasses;
}
