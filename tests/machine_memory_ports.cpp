// Address space, ROM loading and the port tables.
#include "machine/memory.h"
#include "machine/ports.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <string>

TEST(AddressSpace, FillValuesAndImagesAfterLoading) {
    ScratchFolder folder;
    folder.WriteFile("basic.rom", std::string(100, '\x11'));
    folder.WriteFile("dev_dos.rom", std::string(5000, '\x22'));
    ASSERT_TRUE(LoadAddressSpace());
    EXPECT_EQ(ReadByte(0x0000), 0x11);
    EXPECT_EQ(ReadByte(99), 0x11);
    EXPECT_EQ(ReadByte(100), 0xFF); // short image: fill value stands
    EXPECT_EQ(ReadByte(0x3FFF), 0xFF);
    EXPECT_EQ(ReadByte(0x4000), 0xFF);
    for (unsigned a = 0x5800; a < 0x6000; ++a)
        ASSERT_EQ(ReadByte(uint16_t(a)), 0x20) << a;
    EXPECT_EQ(ReadByte(0x6000), 0x22);
    EXPECT_EQ(ReadByte(0x6FFF), 0x22); // long image: only 4,096 bytes taken
    EXPECT_EQ(ReadByte(0x7000), 0xFF);
    for (unsigned a = 0x7C00; a < 0x8000; ++a)
        ASSERT_EQ(ReadByte(uint16_t(a)), 0x20) << a;
    EXPECT_EQ(ReadByte(0x8000), 0xFF);
    EXPECT_EQ(ReadByte(0xFFFF), 0xFF);
}

TEST(AddressSpace, MissingImagesFailAndNameTheFile) {
    ScratchFolder folder;
    const char* missing = nullptr;
    EXPECT_FALSE(LoadAddressSpace(&missing));
    EXPECT_STREQ(missing, "basic.rom");
    folder.WriteFile("basic.rom", "x");
    EXPECT_FALSE(LoadAddressSpace(&missing));
    EXPECT_STREQ(missing, "dev_dos.rom");
    EXPECT_EQ(ReadByte(0x0000), 'x'); // memory keeps what the first image wrote
}

TEST(AddressSpace, WordAccessWrapsAtTheTop) {
    ResetMachineForTest();
    WriteWord(0xFFFF, 0x1234);
    EXPECT_EQ(MachineMemory[0xFFFF], 0x34);
    EXPECT_EQ(MachineMemory[0x0000], 0x12);
    EXPECT_EQ(ReadWord(0xFFFF), 0x1234);
}

TEST(Ports, InReadsZeroUntilWritten) {
    ResetMachineForTest();
    for (int p = 0; p < 256; ++p)
        ASSERT_EQ(PortRead(uint8_t(p)), 0);
}

TEST(Ports, Port58LatchesBits3To6) {
    ResetMachineForTest();
    PortWrite(58, 0xFF, {});
    EXPECT_EQ(PortRead(58), 0x78);
    PortWrite(58, 0x87, {});
    EXPECT_EQ(PortRead(58), 0x00);
    EXPECT_EQ(OutPorts[58], 0x87);
}

TEST(Ports, OtherPortsOnlyRecordTheValue) {
    ResetMachineForTest();
    EXPECT_EQ(PortWrite(57, 0x5A, {0x05, 0x5000, 0x1234}), 0x1234) << "HL comes back as it went";
    EXPECT_EQ(OutPorts[57], 0x5A);
    EXPECT_EQ(PortRead(57), 0);
    // No operation of that number: only recorded.
    EXPECT_EQ(PortWrite(255, 200, {0x05, 0x5000, 0x1234}), 0x1234);
    EXPECT_EQ(OutPorts[255], 200);
    EXPECT_EQ(PortRead(255), 0);
}
