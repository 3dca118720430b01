// A driver file that answers SC_READ from a script, for the transfers the
// virtual scanner never produces because they break the driver contract:
// successes with no line, more lines than the block holds, fewer lines than
// a block. Every other command succeeds; there are no tables.
#include <windows.h>
#undef SC_CLOSE

#include <cstring>

#include "feedlink_protocol.h"
#include "scripted_driver.h"

namespace {

struct {
    ScriptedRead reads[SCRIPTED_READS_CAPACITY];
    int count;
    int next;
    uint32_t lineBytes, lines, transferBytes;
    uint32_t linesFilled; // delivered so far: the next line's pattern
    int readsSeen;
} Script;

void AnswerRead(ScannerCommandBlock *block)
{
    Script.readsSeen++;
    // Past the script the device fails, so a reader that never stops is
    // caught by the read count rather than by a hung test.
    if (Script.next >= Script.count) {
        block->Status = -1;
        block->TransferCount = 0;
        return;
    }
    const ScriptedRead &read = Script.reads[Script.next++];
    uint32_t room = Script.lineBytes ? block->TransferSize / Script.lineBytes : 0;
    uint32_t filled = read.lines < room ? read.lines : room;
    uint8_t *out = (uint8_t *)block->Data;
    for (uint32_t line = 0; line < filled; line++, Script.linesFilled++)
        for (uint32_t i = 0; i < Script.lineBytes; i++)
            out[line * Script.lineBytes + i] = ScriptedLineByte(Script.linesFilled, i);
    block->Status = read.status;
    block->TransferCount = read.lines; // what it claims, which may exceed what fits
}

} // namespace

extern "C" __declspec(dllexport) void __stdcall ScriptedDriverSetUp(const ScriptedRead *reads, int count,
                                                                     uint32_t lineBytes, uint32_t lines,
                                                                     uint32_t transferBytes)
{
    memset(&Script, 0, sizeof Script);
    Script.count = count < SCRIPTED_READS_CAPACITY ? count : SCRIPTED_READS_CAPACITY;
    memcpy(Script.reads, reads, Script.count * sizeof *reads);
    Script.lineBytes = lineBytes;
    Script.lines = lines;
    Script.transferBytes = transferBytes;
}

extern "C" __declspec(dllexport) int __stdcall ScriptedDriverReads(void)
{
    return Script.readsSeen;
}

extern "C" __declspec(dllexport) int __stdcall FeedlinkCall(ScannerCommandBlock *block)
{
    block->Status = 0;
    switch (block->Command) {
    case SC_GET_TABLE_FORMAT:
        block->Status = -6;
        break;
    case SC_GET_GEOMETRY: {
        ScanGeometry *geometry = (ScanGeometry *)block->Data;
        geometry->LineBytes = Script.lineBytes;
        geometry->Lines = Script.lines;
        break;
    }
    case SC_PREPARE_READ:
        block->TransferCount = Script.transferBytes;
        break;
    case SC_READ:
        AnswerRead(block);
        break;
    }
    return 0;
}
