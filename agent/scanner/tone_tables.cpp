// Identity and gamma shaping of the device's lookup tables.
#include "tone_tables.h"

#include <cmath>
#include <cstring>

size_t TableEntryWidth(const TableShape &shape)
{
    return shape.EntryBytes == 1 ? 1 : 2;
}

size_t TableBytes(const TableShape &shape)
{
    return TableEntryWidth(shape) * shape.Entries;
}

uint32_t ReadTableEntry(const uint8_t *table, const TableShape &shape, size_t index)
{
    if (TableEntryWidth(shape) == 1)
        return table[index];
    uint16_t value;
    memcpy(&value, table + 2 * index, 2);
    return value;
}

void WriteTableEntry(uint8_t *table, const TableShape &shape, size_t index, uint32_t value)
{
    if (TableEntryWidth(shape) == 1) {
        table[index] = (uint8_t)value;
        return;
    }
    uint16_t narrow = (uint16_t)value;
    memcpy(table + 2 * index, &narrow, 2);
}

void FillIdentityTable(uint8_t *table, const TableShape &shape)
{
    for (size_t i = 0; i < shape.Entries; i++)
        WriteTableEntry(table, shape, i, (uint32_t)i);
}

// Curve values far out of range (a negative gamma, a device announcing a
// full scale of 0) must not reach an integer conversion: that is undefined
// and has produced garbage tables. They saturate at the entry width instead.
static uint32_t SaturateToEntry(double value, const TableShape &shape)
{
    double widest = TableEntryWidth(shape) == 1 ? 255.0 : 65535.0;
    if (!(value >= 0.0))
        return 0;
    if (value > widest)
        return (uint32_t)widest;
    return (uint32_t)value;
}

void BuildGammaCurve(uint8_t *curve, const TableShape &shape, double gamma)
{
    if (shape.Entries == 0)
        return;
    double fullScale = shape.MaxValue;
    WriteTableEntry(curve, shape, 0, 0);
    for (size_t j = 1; j < shape.Entries; j++) {
        double value = fullScale * std::pow((double)j / fullScale, 1.0 / gamma) + 0.5;
        WriteTableEntry(curve, shape, j, SaturateToEntry(value, shape));
    }
}

void ApplyCurveToTable(uint8_t *table, const uint8_t *curve, const TableShape &shape)
{
    if (shape.Entries == 0)
        return;
    const uint32_t last = shape.Entries - 1u;
    for (size_t i = 0; i < shape.Entries; i++) {
        uint32_t v = ReadTableEntry(table, shape, i);
        // Entries never exceed the last index after a pass; the cap keeps a
        // table that arrived otherwise from reading past the curve.
        uint32_t shaped = ReadTableEntry(curve, shape, v < last ? v : last);
        WriteTableEntry(table, shape, i, shaped >= last ? last : shaped);
    }
}
