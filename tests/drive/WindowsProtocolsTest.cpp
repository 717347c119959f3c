// The controller over the Windows access protocols, with the services
// emulated over image files: the register blocks and packets each family
// hands the VWIN32 device, byte for byte as the device decoded them; the
// protocol each system version gets; the fall-back from int 21h 7305h to
// int 25h/26h; the failures the services report; device size and free
// space per family; and the emulator's own refusal of malformed requests.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/AlignedBuffer.h"
#include "platform/AskUser.h"
#include "tests/drive/ProtocolTestSupport.h"
#include "tests/fixtures/Fixtures.h"

using namespace std::chrono_literals;
using namespace protocoltest;
using platform::win32api::Win32DiskEmulator;

namespace {

constexpr uint64_t kFloppySectors = 2880;
constexpr uint32_t kInt21 = 6, kInt25 = 2, kInt26 = 3, kIoctl = 1;

class WindowsProtocols : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fixtures::MakeFloppy(image));
    ASSERT_TRUE(fixtures::FillRandom(image, 20 * 512, 64 * 512, 5));  // data to read back
    emulator->MapDrive('E', image);
  }
  void TearDown() override {
    // Every request was well formed, and nothing was left open or loaded.
    EXPECT_EQ(emulator->Violations(), std::vector<std::string>{});
    EXPECT_EQ(emulator->OpenHandles(), 0u);
    EXPECT_EQ(emulator->LoadedLibraries(), 0);
  }

  std::unique_ptr<CDriveController> Controller() {
    auto drive = std::make_unique<CDriveController>(EmulatedProtocols(emulator));
    drive->SetRetryPause(0ms);
    return drive;
  }

  std::vector<uint32_t> Codes() {
    std::vector<uint32_t> codes;
    for (const auto& call : emulator->Calls()) codes.push_back(call.code);
    return codes;
  }

  std::string ImageBytes(uint64_t sector, uint32_t count) {
    return fixtures::ReadBytes(image, sector * 512, count * 512ull);
  }

  fixtures::TempDir dir;
  std::string image = dir.File("floppy.img");
  std::shared_ptr<Win32DiskEmulator> emulator = std::make_shared<Win32DiskEmulator>();
};

std::string Text(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

// Bytes 4 to 27 of the register block (everything after EBX, whose value is
// the packet's address: the emulator checked it by finding the packet
// there) and bytes 0 to 5 of the packet (its buffer address the emulator
// checked by finding the sectors' room there), written out as the services
// expect them.
struct BlockCase {
  const char* name;
  platform::OsVersionInfo version;
  enum Op { Write7x3, Read7x3, ReadAt9x2, Size } op;
  uint32_t code;
  std::array<uint8_t, 24> afterEbx;
  std::array<uint8_t, 6> packetStart;
};

const BlockCase kBlockCases[] = {
    {"98 write", kWin98, BlockCase::Write7x3, kInt21,
     {/*EDX: E: with A: = 1*/ 5, 0, 0, 0, /*ECX*/ 0xFF, 0xFF, 0xFF, 0xFF, /*EAX*/ 0x05, 0x73, 0, 0,
      /*EDI*/ 0, 0, 0, 0, /*ESI: write, normal file data*/ 0x01, 0x60, 0, 0, /*Flags: carry*/ 1, 0, 0, 0},
     {7, 0, 0, 0, 3, 0}},
    {"98 read", kWin98, BlockCase::Read7x3, kInt21,
     {5, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x05, 0x73, 0, 0, 0, 0, 0, 0, 0x00, 0x60, 0, 0, 1, 0, 0, 0},
     {7, 0, 0, 0, 3, 0}},
    {"ME read at a sector", kWinMe, BlockCase::ReadAt9x2, kInt21,
     {5, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x05, 0x73, 0, 0, 0, 0, 0, 0, 0x00, 0x60, 0, 0, 1, 0, 0, 0},
     {9, 0, 0, 0, 2, 0}},
    {"95 write", kWin95, BlockCase::Write7x3, kInt26,
     {/*EDX*/ 0, 0, 0, 0, /*ECX*/ 0xFF, 0xFF, 0xFF, 0xFF, /*EAX: E: with A: = 0*/ 4, 0, 0, 0,
      /*EDI*/ 0, 0, 0, 0, /*ESI*/ 0, 0, 0, 0, /*Flags*/ 1, 0, 0, 0},
     {7, 0, 0, 0, 3, 0}},
    {"95 read", kWin95, BlockCase::Read7x3, kInt25,
     {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0},
     {7, 0, 0, 0, 3, 0}},
    {"95 read at a sector", kWin95, BlockCase::ReadAt9x2, kInt25,
     {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0},
     {9, 0, 0, 0, 2, 0}},
    // EBX: the drive with A: = 1; EDX: the parameters buffer (not compared:
    // the emulator found it there, its first byte 0).
    {"98 device size", kWin98, BlockCase::Size, kIoctl,
     {/*EDX*/ 0, 0, 0, 0, /*ECX*/ 0x60, 0x08, 0, 0, /*EAX*/ 0x0D, 0x44, 0, 0,
      /*EDI*/ 0, 0, 0, 0, /*ESI*/ 0, 0, 0, 0, /*Flags*/ 1, 0, 0, 0},
     {}},
};

TEST_F(WindowsProtocols, EachFamilyHandsTheDeviceTheBlocksAndPacketsItExpects) {
  for (const BlockCase& c : kBlockCases) {
    SCOPED_TRACE(c.name);
    InjectedVersion version(c.version);
    auto drive = Controller();
    ASSERT_TRUE(drive->OpenDrive('e')) << drive->GetLastErrorCode();
    emulator->ClearCalls();

    platform::AlignedBuffer buffer(3 * 512);
    for (size_t i = 0; i < buffer.size(); ++i) buffer.data()[i] = static_cast<uint8_t>(i * 7 + 1);
    const std::string written = Text(buffer.data(), buffer.size());
    uint32_t done = 0;
    switch (c.op) {
      case BlockCase::Write7x3:
        ASSERT_TRUE(drive->SeekToSector(7));
        ASSERT_TRUE(drive->WriteSectors(buffer.data(), 3 * 512, done));
        EXPECT_EQ(ImageBytes(7, 3), written);
        EXPECT_EQ(drive->GetPosition(), 10u) << "the position moves by the packet's count";
        break;
      case BlockCase::Read7x3:
        ASSERT_TRUE(drive->SeekToSector(7));
        ASSERT_TRUE(drive->ReadSectors(buffer.data(), 3 * 512, done));
        EXPECT_EQ(Text(buffer.data(), 3 * 512), ImageBytes(7, 3));
        EXPECT_EQ(drive->GetPosition(), 10u);
        break;
      case BlockCase::ReadAt9x2:
        ASSERT_TRUE(drive->ReadSectorsAt(buffer.data(), 9, 2));
        EXPECT_EQ(Text(buffer.data(), 2 * 512), ImageBytes(9, 2));
        EXPECT_EQ(drive->GetPosition(), 0u) << "a read at a sector leaves the position alone";
        break;
      case BlockCase::Size:
        EXPECT_EQ(drive->GetDriveSizeBytes('e'), kFloppySectors * 512);
        break;
    }

    const auto calls = emulator->Calls();
    ASSERT_EQ(calls.size(), 1u);
    const auto& call = calls[0];
    EXPECT_EQ(call.code, c.code);
    EXPECT_FALSE(call.carry);
    // The device-size call's address is in EDX instead.
    const size_t from = c.op == BlockCase::Size ? 8 : 4;
    EXPECT_EQ(std::vector<uint8_t>(call.block.begin() + from, call.block.end()),
              std::vector<uint8_t>(c.afterEbx.begin() + (from - 4), c.afterEbx.end()));
    if (c.op == BlockCase::Size) {
      EXPECT_EQ(std::vector<uint8_t>(call.block.begin(), call.block.begin() + 4), (std::vector<uint8_t>{5, 0, 0, 0}))
          << "EBX: E: with A: = 1";
    } else {
      ASSERT_EQ(call.packet.size(), 10u);
      EXPECT_EQ(std::vector<uint8_t>(call.packet.begin(), call.packet.begin() + 6),
                std::vector<uint8_t>(c.packetStart.begin(), c.packetStart.end()));
    }
  }
}

TEST_F(WindowsProtocols, TheSystemVersionPicksTheProtocol) {
  const struct {
    platform::OsVersionInfo version;
    OsFamily family;
    std::vector<uint32_t> openCalls;  // what OpenDrive's read of sector 0 issued
  } cases[] = {
      {Version(platform::kPlatformWindows, 1000), OS_WIN95, {kInt25}},
      {Version(platform::kPlatformWindows, 1001), OS_WIN98, {kInt21}},
      {Version(platform::kPlatformWindows, 2999), OS_WIN98, {kInt21}},
      {Version(platform::kPlatformWindows, 3000), OS_WINME, {kInt21}},
      {Version(platform::kPlatformNT, 1000), OS_NT, {}},  // a volume handle: no VWIN32 call
      {Version(platform::kPlatformNT, 3790), OS_NT, {}},
      {Version(platform::kPlatformWin32s, 5000), OS_WIN95, {kInt25}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.version.platformId) + "/" + std::to_string(c.version.buildNumber));
    InjectedVersion version(c.version);
    emulator->ClearCalls();
    auto drive = Controller();
    EXPECT_EQ(drive->GetOsFamily(), c.family);
    ASSERT_TRUE(drive->OpenDrive('e'));
    EXPECT_EQ(drive->GetFileSystemType(), FS_FAT12);
    EXPECT_EQ(Codes(), c.openCalls);
  }
}

TEST_F(WindowsProtocols, A98SystemWithout7305hFallsBackToInt25UntilTheNextBootSectorRead) {
  InjectedVersion version(kWin98);
  emulator->lacksInt21Transfers = true;
  auto drive = Controller();
  ASSERT_TRUE(drive->OpenDrive('e'));
  EXPECT_EQ(drive->GetOsFamily(), OS_WIN95);
  // Both tries of 7305h come back with the carry set and AX 7300h; then int 25h.
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{kInt21, kInt21, kInt25}));
  const auto first = emulator->Calls().front();
  EXPECT_TRUE(first.carry);
  EXPECT_EQ(first.eax & 0xFFFF, 0x7300u);

  // Every later transfer of this controller uses int 25h/26h.
  emulator->ClearCalls();
  platform::AlignedBuffer buffer(4 * 512);
  uint32_t done = 0;
  ASSERT_TRUE(drive->SeekToSector(20));
  ASSERT_TRUE(drive->ReadSectors(buffer.data(), 4 * 512, done));
  ASSERT_TRUE(drive->SeekToSector(100));
  ASSERT_TRUE(drive->WriteSectors(buffer.data(), 4 * 512, done));
  EXPECT_EQ(ImageBytes(100, 4), ImageBytes(20, 4));
  EXPECT_EQ(drive->GetTotalSectors(), kFloppySectors - 1);
  for (const uint32_t code : Codes()) EXPECT_TRUE(code == kInt25 || code == kInt26 || code == kIoctl) << code;

  // The next ReadBootSector decides anew.
  emulator->lacksInt21Transfers = false;
  emulator->ClearCalls();
  ASSERT_TRUE(drive->ReadBootSector());
  EXPECT_EQ(drive->GetOsFamily(), OS_WIN98);
  ASSERT_TRUE(drive->ReadSectors(buffer.data(), 512, done));
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{kInt21, kInt21}));
}

struct FailureCase {
  const char* name;
  platform::OsVersionInfo version;
  bool writeProtected;
  enum Op { ReadSector3, Read64, WriteAt10, ReadPastTheEnd } op;
  uint32_t error;
  std::vector<int64_t> bad;
};

TEST_F(WindowsProtocols, FailuresCarryTheServicesOwnErrorCodes) {
  const FailureCase cases[] = {
      {"98 data error", kWin98, false, FailureCase::ReadSector3, 23, {3}},
      {"95 data error", kWin95, false, FailureCase::ReadSector3, 23, {3}},
      {"NT data error", kWinXp, false, FailureCase::ReadSector3, 23, {3}},
      {"98 run of 64", kWin98, false, FailureCase::Read64, 23, {3, 40}},
      {"95 run of 64", kWin95, false, FailureCase::Read64, 23, {3, 40}},
      {"NT run of 64", kWinXp, false, FailureCase::Read64, 23, {3, 40}},
      {"98 write protected", kWin98, true, FailureCase::WriteAt10, 19, {}},
      {"95 write protected", kWin95, true, FailureCase::WriteAt10, 19, {}},
      {"NT write protected", kWinXp, true, FailureCase::WriteAt10, 19, {}},
      {"98 past the end", kWin98, false, FailureCase::ReadPastTheEnd, 27, {2880}},
      {"95 past the end", kWin95, false, FailureCase::ReadPastTheEnd, 27, {2880}},
      {"NT past the end", kWinXp, false, FailureCase::ReadPastTheEnd, 27, {2880}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InjectedVersion version(c.version);
    Win32DiskEmulator::Drive& e = emulator->MapDrive('E', image);
    e.writeProtected = c.writeProtected;
    e.unreadable = {3, 40};
    auto drive = Controller();
    ASSERT_TRUE(drive->OpenDrive('e'));
    // A stale code from an earlier call must not stand in for the service's.
    emulator->SetLastError(1234);
    platform::AlignedBuffer buffer(64 * 512);
    uint32_t done = 0;
    bool ok = true;
    switch (c.op) {
      case FailureCase::ReadSector3: ok = drive->ReadSectorsAt(buffer.data(), 3, 1); break;
      case FailureCase::Read64: ok = drive->ReadSectors(buffer.data(), 64 * 512, done); break;
      case FailureCase::WriteAt10:
        ASSERT_TRUE(drive->SeekToSector(10));
        ok = drive->WriteSectors(buffer.data(), 512, done);
        EXPECT_EQ(drive->GetPosition(), 10u);
        break;
      case FailureCase::ReadPastTheEnd: ok = drive->ReadSectorsAt(buffer.data(), 2880, 1); break;
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(drive->GetLastErrorCode(), c.error);
    std::vector<int64_t> bad;
    for (int32_t i = 0; i < drive->GetBadSectorCount(); ++i) bad.push_back(drive->GetBadSector(i));
    EXPECT_EQ(bad, c.bad);
    for (const auto& call : emulator->Calls()) {
      if (call.code != kIoctl && call.carry) {
        EXPECT_NE(call.eax & 0xFFFF, 0u);
      }
    }
    emulator->ClearCalls();
  }
}

TEST_F(WindowsProtocols, DeviceSizePerFamily) {
  const std::string big = dir.File("big.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(big, 70000 * 512ull));  // past the BPB's 16-bit count
  emulator->MapDrive('F', big);
  const struct {
    const char* name;
    platform::OsVersionInfo version;
    char letter;
    bool geometryFails;
    uint64_t bytes;
  } cases[] = {
      {"NT geometry of a floppy (80 x 2 x 18)", kWinXp, 'e', false, kFloppySectors * 512},
      {"NT geometry (255 x 63 does not divide it)", kWinXp, 'f', false, 70000 * 512ull},
      {"NT geometry request fails", kWinXp, 'e', true, 0},
      {"95 device parameters, 16-bit count", kWin95, 'e', false, kFloppySectors * 512},
      {"98 device parameters, 32-bit count", kWin98, 'f', false, 70000 * 512ull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InjectedVersion version(c.version);
    emulator->DriveFor('E').geometryFails = c.geometryFails;
    auto drive = Controller();
    EXPECT_EQ(drive->GetDriveSizeBytes(c.letter), c.bytes);
    (void)drive->OpenDrive(c.letter);
    // The size search reads single sectors through the family's own calls.
    EXPECT_EQ(drive->GetLastSector(), c.bytes == 0 ? 0 : c.bytes / 512 - 1);
  }
  emulator->DriveFor('E').geometryFails = false;
}

TEST_F(WindowsProtocols, FreeSpacePerFamilyAndTheDllErrorBox) {
  struct Asked {
    std::string text, title;
    int buttons, icon;
  };
  std::vector<Asked> asked;
  platform::SetAskUser([&](const std::string& text, const std::string& title, int buttons, int icon) {
    asked.push_back({text, title, buttons, icon});
    return static_cast<int>(ResultOk);
  });
  emulator->DriveFor('E').freeBytes = 1000000;
  const struct {
    const char* name;
    platform::OsVersionInfo version;
    bool libraryMissing, entryPointMissing, mounted;
    bool ok;
    uint64_t freeBytes;
    uint32_t error;
    bool dllErrorBox;
  } cases[] = {
      {"NT", kWinXp, false, false, true, true, 1000000, 0, false},
      {"98", kWin98, false, false, true, true, 1000000, 0, false},
      // 8 sectors of 512 a cluster, 244 whole clusters free.
      {"95 counts clusters", kWin95, false, false, true, true, 244 * 4096, 0, false},
      {"98 without Kernel32.dll", kWin98, true, false, true, false, 0, 126, true},
      {"NT without Kernel32.dll", kWinXp, true, false, true, false, 0, 126, true},
      {"98 without the entry point", kWin98, false, true, true, false, 0, 127, false},
      {"95 needs no library", kWin95, true, true, true, true, 244 * 4096, 0, false},
      {"NT, nothing mounted", kWinXp, false, false, false, false, 0, 1785, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InjectedVersion version(c.version);
    emulator->libraryMissing = c.libraryMissing;
    emulator->entryPointMissing = c.entryPointMissing;
    emulator->DriveFor('E').freeBytes = c.mounted ? std::optional<uint64_t>(1000000) : std::nullopt;
    asked.clear();
    auto drive = Controller();
    uint64_t freeBytes = 99;
    EXPECT_EQ(drive->GetFreeSpace('e', freeBytes), c.ok);
    EXPECT_EQ(freeBytes, c.freeBytes);
    if (!c.ok) {
      EXPECT_EQ(drive->GetLastErrorCode(), c.error);
    }
    if (c.dllErrorBox) {
      ASSERT_EQ(asked.size(), 1u);
      EXPECT_EQ(asked[0].title, "DLL Error");
      EXPECT_EQ(asked[0].text, "Failed to load DLL Kernel32.dll.");
      EXPECT_EQ(asked[0].buttons, ButtonsOk);
      EXPECT_EQ(asked[0].icon, IconError);
    } else {
      EXPECT_TRUE(asked.empty());
    }
  }
  platform::SetAskUser(nullptr);
  emulator->libraryMissing = false;
  emulator->entryPointMissing = false;
}

TEST_F(WindowsProtocols, SectorsPastFourGigabytesAreReachedOrRefusedNeverWrapped) {
  const std::string huge = dir.File("huge.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(huge, 5ull << 30));  // sparse
  constexpr uint64_t kFar = 9000000;                        // 4.3 GiB in
  ASSERT_TRUE(fixtures::FillRandom(huge, kFar * 512, 512, 9));
  emulator->MapDrive('G', huge);
  platform::AlignedBuffer buffer(512);
  {
    // The volume handle's file pointer takes the offset's high part.
    InjectedVersion version(kWinXp);
    auto drive = Controller();
    (void)drive->OpenDrive('g');
    ASSERT_TRUE(drive->ReadSectorsAt(buffer.data(), kFar, 1)) << drive->GetLastErrorCode();
    EXPECT_EQ(Text(buffer.data(), 512), fixtures::ReadBytes(huge, kFar * 512, 512));
    ASSERT_TRUE(drive->SeekToSector(kFar));
    uint32_t done = 0;
    ASSERT_TRUE(drive->ReadSectors(buffer.data(), 512, done));
    EXPECT_EQ(Text(buffer.data(), 512), fixtures::ReadBytes(huge, kFar * 512, 512));
  }
  {
    // The packet holds 32 bits: sector 2^32 + 5 must not become sector 5.
    InjectedVersion version(kWin98);
    auto drive = Controller();
    (void)drive->OpenDrive('g');
    emulator->ClearCalls();
    EXPECT_FALSE(drive->ReadSectorsAt(buffer.data(), (1ull << 32) + 5, 1));
    EXPECT_EQ(drive->GetLastErrorCode(), 27u);
    EXPECT_TRUE(emulator->Calls().empty());
  }
}

TEST_F(WindowsProtocols, AVolumeHandleReadCutShortAtTheEndIsAFailureThatLeavesThePosition) {
  InjectedVersion version(kWinXp);
  auto drive = Controller();
  ASSERT_TRUE(drive->OpenDrive('e'));
  platform::AlignedBuffer buffer(4 * 512);
  EXPECT_FALSE(drive->ReadSectorsAt(buffer.data(), kFloppySectors - 2, 4));
  EXPECT_EQ(drive->GetLastErrorCode(), 27u);
  EXPECT_EQ(drive->GetBadSector(0), static_cast<int64_t>(kFloppySectors));
  EXPECT_EQ(drive->GetBadSector(1), static_cast<int64_t>(kFloppySectors + 1));
  ASSERT_TRUE(drive->SeekToSector(kFloppySectors - 2));
  uint32_t done = 0;
  EXPECT_FALSE(drive->ReadSectors(buffer.data(), 4 * 512, done));
  EXPECT_EQ(drive->GetPosition(), kFloppySectors - 2);
  ASSERT_TRUE(drive->ReadSectors(buffer.data(), 2 * 512, done)) << "the handle's pointer went back as well";
  EXPECT_EQ(Text(buffer.data(), 1024), ImageBytes(kFloppySectors - 2, 2));
}

TEST_F(WindowsProtocols, AChangeOfSystemKindReopensTheDriveAtItsPosition) {
  auto drive = [&] {
    InjectedVersion version(kWinXp);
    auto d = Controller();
    EXPECT_TRUE(d->OpenDrive('e'));
    EXPECT_TRUE(d->SeekToSector(20));
    return d;
  }();
  InjectedVersion version(kWin98);
  emulator->ClearCalls();
  ASSERT_TRUE(drive->ReadBootSector());
  platform::AlignedBuffer buffer(512);
  uint32_t done = 0;
  ASSERT_TRUE(drive->ReadSectors(buffer.data(), 512, done));
  EXPECT_EQ(Text(buffer.data(), 512), ImageBytes(20, 1));
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{kInt21, kInt21}));
}

// The emulator itself: each malformed request is refused with 87 and kept
// as a violation, and the well-formed one beside them is served.
TEST(Win32DiskEmulator, RefusesEveryMalformedRequest) {
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(image, 64 * 512));
  Win32DiskEmulator emulator;
  emulator.MapDrive('E', image);

  std::vector<uint8_t> data(2 * 512);
  uint8_t packet[10] = {1, 0, 0, 0, 2, 0};
  const uint32_t dataAddress = emulator.FlatAddress(data.data(), static_cast<uint32_t>(data.size()));
  std::memcpy(packet + 6, &dataAddress, 4);  // this host is little-endian, as the emulated one
  const uint32_t packetAddress = emulator.FlatAddress(packet, sizeof packet);
  uint8_t smallPacket[10] = {1, 0, 0, 0, 3, 0};  // 3 sectors into room for 2
  std::memcpy(smallPacket + 6, &dataAddress, 4);
  const uint32_t smallPacketAddress = emulator.FlatAddress(smallPacket, sizeof smallPacket);

  // A well-formed int 21h 7305h read of E: as the reference.
  auto block = [&](uint32_t ebx, uint32_t edx, uint32_t ecx, uint32_t eax, uint32_t edi, uint32_t esi,
                   uint32_t flags) {
    std::array<uint8_t, 28> b{};
    const uint32_t v[] = {ebx, edx, ecx, eax, edi, esi, flags};
    std::memcpy(b.data(), v, sizeof v);
    return b;
  };
  const struct {
    const char* name;
    uint32_t code;
    std::array<uint8_t, 28> block;
    uint32_t size;
    bool refused;
  } cases[] = {
      {"well formed", 6, block(packetAddress, 5, 0xFFFFFFFF, 0x7305, 0, 0x6000, 1), 28, false},
      {"carry not set going in", 6, block(packetAddress, 5, 0xFFFFFFFF, 0x7305, 0, 0x6000, 0), 28, true},
      {"ECX not FFFFFFFFh", 6, block(packetAddress, 5, 0xFFFF, 0x7305, 0, 0x6000, 1), 28, true},
      {"ESI neither read nor write", 6, block(packetAddress, 5, 0xFFFFFFFF, 0x7305, 0, 0x6002, 1), 28, true},
      {"EAX another function", 6, block(packetAddress, 5, 0xFFFFFFFF, 0x7303, 0, 0x6000, 1), 28, true},
      {"EDI not 0", 6, block(packetAddress, 5, 0xFFFFFFFF, 0x7305, 1, 0x6000, 1), 28, true},
      {"a block of 24 bytes", 6, block(packetAddress, 5, 0xFFFFFFFF, 0x7305, 0, 0x6000, 1), 24, true},
      {"EBX not at a packet", 6, block(packetAddress + 0x800, 5, 0xFFFFFFFF, 0x7305, 0, 0x6000, 1), 28, true},
      {"buffer smaller than the count", 6, block(smallPacketAddress, 5, 0xFFFFFFFF, 0x7305, 0, 0x6000, 1), 28, true},
      {"int 25h with EDX", 2, block(packetAddress, 5, 0xFFFFFFFF, 4, 0, 0, 1), 28, true},
      {"int 25h well formed", 2, block(packetAddress, 0, 0xFFFFFFFF, 4, 0, 0, 1), 28, false},
      {"unknown control code", 4, block(packetAddress, 0, 0xFFFFFFFF, 4, 0, 0, 1), 28, true},
      {"440Dh with another category", 1, block(5, dataAddress, 0x0840, 0x440D, 0, 0, 1), 28, true},
  };
  const platform::win32api::Handle device = emulator.CreateFileA("\\\\.\\vwin32", 0, 0, 0, 0);
  ASSERT_NE(device, platform::win32api::kInvalidHandleValue);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = emulator.Violations().size();
    auto b = c.block;
    uint32_t returned = 0;
    const bool ok = emulator.DeviceIoControl(device, c.code, b.data(), c.size, b.data(), c.size, &returned);
    EXPECT_EQ(ok, !c.refused);
    EXPECT_EQ(emulator.Violations().size(), before + (c.refused ? 1 : 0));
    if (c.refused) {
      EXPECT_EQ(emulator.GetLastError(), 87u);
    } else {
      EXPECT_EQ(b[24] & 1, 0) << "served: carry clear";
    }
  }
  EXPECT_TRUE(emulator.CloseHandle(device));

  // Volume handles: the rights and sharing of the protocol, whole sectors.
  const size_t before = emulator.Violations().size();
  using namespace platform::win32api;
  EXPECT_EQ(emulator.CreateFileA("\\\\.\\E:", kGenericRead, 0, kOpenExisting, 0), kInvalidHandleValue);
  EXPECT_EQ(emulator.CreateFileA("\\\\.\\vwin32", kGenericRead, 0, 0, 0), kInvalidHandleValue);
  const Handle volume =
      emulator.CreateFileA("\\\\.\\E:", kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting, 0);
  ASSERT_NE(volume, kInvalidHandleValue);
  uint32_t moved = 0;
  EXPECT_FALSE(emulator.ReadFile(volume, data.data(), 100, &moved));
  EXPECT_EQ(emulator.SetFilePointer(volume, 10, nullptr, kFileBegin), 10u);
  EXPECT_FALSE(emulator.ReadFile(volume, data.data(), 512, &moved));
  EXPECT_EQ(emulator.Violations().size(), before + 4);
  EXPECT_TRUE(emulator.CloseHandle(volume));
  EXPECT_FALSE(emulator.CloseHandle(volume)) << "closed twice";
  EXPECT_EQ(emulator.OpenHandles(), 0u);
}

}  // namespace
