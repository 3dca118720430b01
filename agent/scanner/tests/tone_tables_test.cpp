// Shaping of the device's lookup tables: identity in both entry widths, the
// gamma curve's values, composition of two passes and the cap at the last entry.
#include <gtest/gtest.h>

#include <vector>

#include "tone_tables.h"

namespace {

std::vector<uint8_t> Table(const TableShape &shape)
{
    return std::vector<uint8_t>(TableBytes(shape), 0xEE);
}

std::vector<uint32_t> Entries(const std::vector<uint8_t> &table, const TableShape &shape)
{
    std::vector<uint32_t> values;
    for (size_t i = 0; i < shape.Entries; i++)
        values.push_back(ReadTableEntry(table.data(), shape, i));
    return values;
}

void Shape(std::vector<uint8_t> *table, const TableShape &shape, double gamma)
{
    std::vector<uint8_t> curve = Table(shape);
    BuildGammaCurve(curve.data(), shape, gamma);
    ApplyCurveToTable(table->data(), curve.data(), shape);
}

TEST(ToneTables, IdentityInTheEntryWidth)
{
    struct Case {
        TableShape shape;
        size_t bytes;
        size_t probe;
        uint32_t value;
    } cases[] = {
        {{255, 1, 256}, 256, 200, 200},
        {{4095, 2, 4096}, 8192, 4095, 4095},
        {{1023, 0, 1024}, 2048, 1000, 1000}, // any width but 1 means 16-bit entries
        {{255, 1, 300}, 300, 299, 43},       // byte entries keep the low byte
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> table = Table(c.shape);
        ASSERT_EQ(table.size(), c.bytes);
        FillIdentityTable(table.data(), c.shape);
        EXPECT_EQ(ReadTableEntry(table.data(), c.shape, 0), 0u);
        EXPECT_EQ(ReadTableEntry(table.data(), c.shape, c.probe), c.value) << "entries " << c.shape.Entries;
    }
    // 16-bit entries are stored little-endian, as the device reads them.
    TableShape wide = {4095, 2, 4096};
    std::vector<uint8_t> table = Table(wide);
    FillIdentityTable(table.data(), wide);
    EXPECT_EQ(table[2 * 0x123], 0x23);
    EXPECT_EQ(table[2 * 0x123 + 1], 0x01);
}

TEST(ToneTables, GammaCurveValues)
{
    TableShape shape = {255, 1, 256};
    std::vector<uint8_t> curve = Table(shape);
    BuildGammaCurve(curve.data(), shape, 2.2);
    struct Probe {
        size_t j;
        uint32_t value;
    } probes[] = {{0, 0}, {1, 21}, {16, 72}, {64, 136}, {128, 186}, {200, 228}, {254, 255}, {255, 255}};
    for (const Probe &p : probes)
        EXPECT_EQ(ReadTableEntry(curve.data(), shape, p.j), p.value) << "curve[" << p.j << "]";
}

TEST(ToneTables, GammaOneKeepsIdentity)
{
    for (TableShape shape : {TableShape{255, 1, 256}, TableShape{4095, 2, 4096}}) {
        std::vector<uint8_t> table = Table(shape);
        FillIdentityTable(table.data(), shape);
        std::vector<uint32_t> before = Entries(table, shape);
        Shape(&table, shape, 1.0);
        EXPECT_EQ(Entries(table, shape), before) << "entries " << shape.Entries;
    }
}

TEST(ToneTables, TwoPassesCompose)
{
    // The second pass reads the first pass's output: 0.5 then 2.0 loses the
    // two darkest steps, while the other order would keep entry 1 at 1.
    TableShape shape = {255, 1, 256};
    std::vector<uint8_t> table = Table(shape);
    FillIdentityTable(table.data(), shape);
    Shape(&table, shape, 0.5);
    Shape(&table, shape, 2.0);
    struct Probe {
        size_t i;
        uint32_t value;
    } probes[] = {{0, 0}, {1, 0}, {2, 0}, {16, 16}, {64, 64}, {128, 128}, {200, 200}, {255, 255}};
    for (const Probe &p : probes)
        EXPECT_EQ(ReadTableEntry(table.data(), shape, p.i), p.value) << "entry " << p.i;
}

TEST(ToneTables, ResultsCapAtTheLastEntry)
{
    // A device whose full scale exceeds its table length: curve values above
    // the last index are capped there.
    TableShape shape = {1023, 2, 256};
    std::vector<uint8_t> table = Table(shape);
    FillIdentityTable(table.data(), shape);
    Shape(&table, shape, 2.0);
    struct Probe {
        size_t i;
        uint32_t value;
    } probes[] = {{0, 0}, {1, 32}, {10, 101}, {16, 128}, {17, 132}, {64, 255}, {255, 255}};
    for (const Probe &p : probes)
        EXPECT_EQ(ReadTableEntry(table.data(), shape, p.i), p.value) << "entry " << p.i;
}

TEST(ToneTables, OutOfRangeCurvesSaturate)
{
    // A negative gamma or a full scale of 0 sends the curve to infinity or
    // NaN; the tables must still hold defined, capped values.
    struct Case {
        TableShape shape;
        double gamma;
        uint32_t first, other;
    } cases[] = {
        {{255, 1, 256}, -0.5, 0, 255},
        {{0, 2, 16}, 1.0, 0, 0},
        {{255, 2, 256}, -0.01, 0, 255},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> table = Table(c.shape);
        FillIdentityTable(table.data(), c.shape);
        Shape(&table, c.shape, c.gamma);
        EXPECT_EQ(ReadTableEntry(table.data(), c.shape, 0), c.first);
        for (size_t i = 1; i < c.shape.Entries; i++)
            ASSERT_EQ(ReadTableEntry(table.data(), c.shape, i), c.other) << "gamma " << c.gamma << " entry " << i;
    }
}

TEST(ToneTables, EmptyTablesAreLeftAlone)
{
    TableShape shape = {255, 1, 0};
    uint8_t guard[4] = {1, 2, 3, 4};
    FillIdentityTable(guard, shape);
    BuildGammaCurve(guard, shape, 2.0);
    ApplyCurveToTable(guard, guard, shape);
    EXPECT_EQ(guard[0], 1);
    EXPECT_EQ(guard[3], 4);
}

} // namespace
