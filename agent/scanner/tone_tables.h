// The shapes the device's lookup tables take before a scan: the identity and
// gamma curves applied in place. Portable: no Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

// One table as the device describes it.
struct TableShape {
    uint16_t MaxValue;   // full-scale output of an entry
    uint16_t EntryBytes; // 1: byte entries; anything else: 16-bit entries
    uint16_t Entries;
};

size_t TableEntryWidth(const TableShape &shape);
size_t TableBytes(const TableShape &shape);

uint32_t ReadTableEntry(const uint8_t *table, const TableShape &shape, size_t index);
void WriteTableEntry(uint8_t *table, const TableShape &shape, size_t index, uint32_t value);

// Entry i = i, cut to the entry width.
void FillIdentityTable(uint8_t *table, const TableShape &shape);

// curve[0] = 0, curve[j] = trunc(MaxValue * (j / MaxValue)^(1/gamma) + 0.5).
void BuildGammaCurve(uint8_t *curve, const TableShape &shape, double gamma);

// Replaces each entry v by curve[v], capped at Entries - 1.
void ApplyCurveToTable(uint8_t *table, const uint8_t *curve, const TableShape &shape);
