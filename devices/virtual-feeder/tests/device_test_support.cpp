// Helpers of the virtual scanner's Windows tests.
#include "device_test_support.h"

#include <gtest/gtest.h>

#include "scan_bitmap.h"
#include "test_support.h"

namespace feedtest {

Driver::Driver() : block{}, module_(nullptr), entry_(nullptr)
{
    module_ = LoadLibraryA((testsupport::ProgramDirectory() + "Feedlink.dll").c_str());
    if (module_)
        entry_ = (FeedlinkEntry)GetProcAddress(module_, "FeedlinkCall");
}

Driver::~Driver()
{
    if (entry_)
        Send(SC_CLOSE);
    if (module_)
        FreeLibrary(module_);
}

int16_t Driver::Send(uint16_t command, void *data)
{
    block.Command = command;
    if (command == SC_START)
        block.TransferSize = SC_START_MAGIC;
    if (data)
        block.Data = data;
    if (!entry_)
        return -1000;
    entry_(&block);
    return block.Status;
}

int16_t Driver::Read(void *buffer, uint32_t bytes)
{
    block.Data = buffer;
    block.TransferSize = bytes;
    return Send(SC_READ);
}

void TestPixel(uint32_t x, uint32_t y, uint8_t rgb[3])
{
    rgb[0] = uint8_t(x * 37 + y * 11 + 5);
    rgb[1] = uint8_t(x * 13 + y * 71 + 90);
    rgb[2] = uint8_t(x * 101 + y * 7 + 200);
}

bool WriteTestBitmap(const std::string &path, uint32_t width, uint32_t height)
{
    return testsupport::WriteWholeFile(path, scanbitmap::ScanBitmap(24, width, height, 300, [](uint32_t x, uint32_t y) {
                                           uint8_t rgb[3];
                                           TestPixel(x, y, rgb);
                                           return uint32_t(rgb[2] | rgb[1] << 8 | rgb[0] << 16);
                                       }));
}

ScratchDevice::ScratchDevice()
{
    folder = testsupport::MakeScratchFolder("vfeeder");
    feeder = folder + "\\feeder";
    EXPECT_TRUE(feeder::SetFeederFolder(feeder));
    EXPECT_TRUE(feeder::Reset());
}

ScratchDevice::~ScratchDevice()
{
    feeder::Reset();
    feeder::SetFeederFolder("");
    testsupport::RemoveTree(folder);
}

int RunFeedctl(const std::string &arguments, std::string *output)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string line = "\"" + testsupport::ProgramDirectory() + "feedctl.exe\" " + arguments;
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    PROCESS_INFORMATION process = {};
    const BOOL started =
        CreateProcessA(nullptr, text.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    std::string captured;
    char chunk[4096];
    DWORD got = 0;
    while (started && ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0)
        captured.append(chunk, got);
    CloseHandle(readEnd);
    if (!started)
        return -1;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (output)
        *output = captured;
    return (int)code;
}

ScanParameters MakeParameters(uint16_t width300, uint16_t height300, uint16_t dpi, uint16_t type, void *tables)
{
    ScanParameters parameters = {};
    parameters.Tables = tables;
    parameters.ParameterBytes = SC_PARAMETER_BYTES;
    parameters.PaperArea[2] = width300;
    parameters.PaperArea[3] = height300;
    parameters.XResolution = dpi;
    parameters.YResolution = dpi;
    parameters.ImageType = type;
    parameters.TableUse = type == 0 ? 2 : type == 2 ? 0 : 1;
    parameters.Constant32 = 2;
    return parameters;
}

void ReadPage(Driver &driver, uint32_t lineBytes, uint32_t lines, std::vector<uint8_t> *rows,
              std::vector<ReadRecord> *reads)
{
    rows->clear();
    reads->clear();
    driver.Send(SC_START);
    driver.Send(SC_PREPARE_READ);
    const uint32_t block = lineBytes ? driver.block.TransferCount / lineBytes : 0;
    ASSERT_GT(block, 0u) << "transfer size " << driver.block.TransferCount;
    std::vector<uint8_t> buffer((size_t)block * lineBytes);
    uint32_t remaining = lines;
    // Bounded, so a device that never ends a page fails the test instead of hanging it.
    for (int guard = 0; remaining > 0 && guard < 100000; ++guard) {
        const int16_t status = driver.Read(buffer.data(), (uint32_t)buffer.size());
        const uint32_t count = driver.block.TransferCount;
        reads->push_back({status, count});
        if (status != 0 && status != SC_STATUS_END_OF_PAGE)
            break;
        ASSERT_LE(count, block);
        rows->insert(rows->end(), buffer.begin(), buffer.begin() + (size_t)count * lineBytes);
        if (status == SC_STATUS_END_OF_PAGE)
            break;
        ASSERT_GT(count, 0u) << "a successful read must bring lines";
        remaining -= count;
    }
    driver.Send(SC_STOP);
    driver.Send(SC_END_PAGE);
}

std::vector<uint16_t> TracedCommands()
{
    std::vector<uint16_t> commands;
    for (const FeederTraceEntry &entry : feeder::ReadTrace())
        if (entry.Command < 0x100)
            commands.push_back(entry.Command);
    return commands;
}

} // namespace feedtest
