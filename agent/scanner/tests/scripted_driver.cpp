// A driver file that answers SC_READ from a script, for transfers the
// virtual scanner never produces because they break the driver contract.
// Every other command succeeds; it offers no tables.
#include <windows.h>

#include <cstring>

#include "feedlink_protocol.h"
#include "scripted_driver.h"

static struct {
    ScriptedRead reads[SCRIPTED_READS_CAPACITY];
    int count, next;
    uint32_t lineBytes, lines, transferBytes;
    uint32_t linesFilled; // the next line's pattern
} Script;

static void AnswerRead(ScannerCommandBlock *block)
{
    // Past the script the device fails, so a reader that never stops shows
    // in the lines kept rather than as a hung test.
    if (Script.next >= Script.count) {
        block->Status = -1;
        block->TransferCount = 0;
        return;
    }
    const ScriptedRead &read = Script.reads[Script.next++];
    uint32_t room = block->TransferSize / Script.lineBytes;
    uint8_t *out = (uint8_t *)block->Data;
    for (uint32_t line = 0; line < read.lines && line < room; line++, Script.linesFilled++)
        for (uint32_t i = 0; i < Script.lineBytes; i++)
            out[line * Script.lineBytes + i] = ScriptedLineByte(Script.linesFilled, i);
    block->Status = read.status;
    block->TransferCount = read.lines; // claimed, even beyond what fits
}

extern "C" __declspec(dllexport) void __stdcall ScriptedDriverSetUp(const ScriptedRead *reads, int count,
                                                                    uint32_t lineBytes, uint32_t lines,
                                                                    uint32_t transferBytes)
{
    memset(&Script, 0, sizeof Script);
    Script.count = count < SCRIPTED_READS_CAPACITY ? count : SCRIPTED_READS_CAPACITY;
    memcpy(Script.reads, reads, Script.count * sizeof *reads);
    Script.lineBytes = lineBytes, Script.lines = lines, Script.transferBytes = transferBytes;
}

extern "C" __declspec(dllexport) int __stdcall FeedlinkCall(ScannerCommandBlock *block)
{
    block->Status = 0;
    if (block->Command == SC_GET_TABLE_FORMAT)
        block->Status = -6;
    else if (block->Command == SC_GET_GEOMETRY)
        ((ScanGeometry *)block->Data)->LineBytes = Script.lineBytes,
                       ((ScanGeometry *)block->Data)->Lines = Script.lines;
    else if (block->Command == SC_PREPARE_READ)
        block->TransferCount = Script.transferBytes;
    else if (block->Command == SC_READ)
        AnswerRead(block);
    return 0;
}
