// The scripted driver's control entry, called by the tests that load it.
#pragma once

#include <cstdint>

struct ScriptedRead {
    int16_t status;
    uint32_t lines; // claimed in TransferCount; only what fits the block is filled
};

const int SCRIPTED_READS_CAPACITY = 16;

// Byte `i` of the `line`-th line the driver delivers.
inline uint8_t ScriptedLineByte(uint32_t line, uint32_t i)
{
    return (uint8_t)(line * 13 + i + 1);
}

typedef void(__stdcall *ScriptedDriverSetUpEntry)(const ScriptedRead *reads, int count, uint32_t lineBytes,
                                                  uint32_t lines, uint32_t transferBytes);
