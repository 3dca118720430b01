// Helpers of the virtual scanner's Windows tests.
#include "device_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"

namespace feedtest {

Driver::Driver()
    : block{}, module_(LoadLibraryA((testsupport::ProgramDirectory() + "Feedlink.dll").c_str())),
      entry_(module_ ? (FeedlinkEntry)GetProcAddress(module_, "FeedlinkCall") : nullptr)
{
    EXPECT_NE(entry_, nullptr) << "Feedlink.dll with FeedlinkCall beside the test";
}

Driver::~Driver()
{
    if (entry_)
        Send(SC_CLOSE);
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

ScratchDevice::ScratchDevice() : folder(testsupport::MakeScratchFolder("vfeeder")), feeder(folder + "\\feeder")
{
    EXPECT_TRUE(feeder::SetFeederFolder(feeder) && feeder::Reset());
}

ScratchDevice::~ScratchDevice()
{
    feeder::Reset();
    feeder::SetFeederFolder("");
    testsupport::RemoveTree(folder);
}

ScanParameters MakeParameters(uint16_t width300, uint16_t height300, uint16_t dpi, uint16_t type, void *tables)
{
    ScanParameters parameters = {};
    parameters.Tables = tables;
    parameters.ParameterBytes = SC_PARAMETER_BYTES;
    parameters.PaperArea[2] = width300;
    parameters.PaperArea[3] = height300;
    parameters.XResolution = parameters.YResolution = dpi;
    parameters.ImageType = type;
    return parameters;
}

void ReadPage(Driver &driver, uint32_t lineBytes, uint32_t lines, std::vector<uint8_t> *rows,
              std::vector<ReadRecord> *reads)
{
    rows->clear();
    reads->clear();
    driver.Send(SC_START);
    driver.Send(SC_PREPARE_READ);
    std::vector<uint8_t> buffer(std::max(driver.block.TransferCount, lineBytes));
    // Until the page ends, or a read fails or brings no line.
    int16_t status = 0;
    uint32_t count = 1;
    while (status == 0 && count > 0 && rows->size() < size_t(lines) * lineBytes) {
        driver.block.TransferSize = uint32_t(buffer.size());
        status = driver.Send(SC_READ, buffer.data());
        count = std::min<uint32_t>(driver.block.TransferCount, uint32_t(buffer.size()) / lineBytes);
        reads->push_back({status, driver.block.TransferCount});
        if (status == 0 || status == SC_STATUS_END_OF_PAGE)
            rows->insert(rows->end(), buffer.begin(), buffer.begin() + size_t(count) * lineBytes);
    }
    driver.Send(SC_STOP);
    driver.Send(SC_END_PAGE);
}

} // namespace feedtest
