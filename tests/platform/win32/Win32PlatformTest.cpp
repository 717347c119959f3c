// The Windows platform layer on the system it serves (Wine in CI): the
// real registry, the drive table with the user's drive map, the volume
// handle on a mapped image with its size and file system, and the format
// library looked up at run time.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "drive/CDriveController.h"
#include "platform/AskUser.h"
#include "platform/DriveTable.h"
#include "platform/RegistryStore.h"
#include "settings/CLogger.h"
#include "settings/CSettings.h"

#include <windows.h>
// The drive table's own names, not the system's macros of the same names.
#undef GetDriveType
#undef DRIVE_REMOVABLE
#undef GetVolumeInformation

namespace {

namespace fs = std::filesystem;

// The output of a command run through the system's shell.
std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* pipe = _popen((command + " 2>&1").c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    _pclose(pipe);
  }
  return out;
}

// Every test sees HKEY_CURRENT_USER as a fresh key of its own, so neither
// the user's settings nor another test's are read or changed; the key is
// removed afterwards.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    hive_ = "Software\\NullifexTests\\" + std::to_string(GetCurrentProcessId()) + "-" + name;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, hive_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root_,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, root_), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(root_);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\NullifexTests");
  }
  // The settings key as another process names it.
  std::string SettingsKeyOutside() const { return "HKCU\\" + hive_ + "\\Software\\Ostrand\\NF1"; }

  std::string hive_;
  HKEY root_ = nullptr;
};

TEST_F(RegistryTest, ValuesKeepTheirRegistryTypes) {
  platform::RegistryKey key;
  ASSERT_TRUE(key.OpenOrCreate("Software\\Ostrand\\NF1"));
  ASSERT_TRUE(key.WriteDword("LogEnabled", 0x01020304));
  ASSERT_TRUE(key.WriteString("LogLoc", "C:\\Logs\\Wipes"));
  ASSERT_TRUE(key.WriteRaw("Local2", platform::kRegBinary, {0x2a, 0x00, 0xff}));

  uint32_t dword = 0;
  std::string text;
  std::vector<uint8_t> bytes;
  uint32_t type = 0;
  EXPECT_EQ(key.ReadDword("logenabled", dword), platform::RegRead::kOk);  // names ignore case
  EXPECT_EQ(dword, 0x01020304u);
  EXPECT_EQ(key.ReadString("LogLoc", text), platform::RegRead::kOk);
  EXPECT_EQ(text, "C:\\Logs\\Wipes");
  EXPECT_EQ(key.ReadRaw("Local2", bytes, &type), platform::RegRead::kOk);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x2a, 0x00, 0xff}));
  EXPECT_EQ(type, platform::kRegBinary);
  EXPECT_EQ(key.ReadRaw("LogEnabled", bytes, &type), platform::RegRead::kOk);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(type, platform::kRegDword);
  uint32_t size = 0;
  EXPECT_EQ(key.ValueSize("LogLoc", size), platform::RegRead::kOk);
  EXPECT_EQ(size, 14u);  // the text and its zero

  EXPECT_EQ(key.ReadDword("LogLoc", dword), platform::RegRead::kWrongType);
  EXPECT_EQ(key.ReadString("LogEnabled", text), platform::RegRead::kWrongType);
  EXPECT_EQ(key.ReadDword("Missing", dword), platform::RegRead::kMissing);
  EXPECT_TRUE(key.DeleteValue("LogLoc"));
  EXPECT_FALSE(key.ValueExists("LogLoc"));
  EXPECT_TRUE(key.DeleteValue("LogLoc"));  // already gone is no failure

  // The values are the system's: the registry tool of another process
  // reads them with their types.
  const std::string listed = RunCommand("reg query \"" + SettingsKeyOutside() + "\"");
  EXPECT_NE(listed.find("LogEnabled    REG_DWORD    0x1020304"), std::string::npos) << listed;
  EXPECT_NE(listed.find("Local2    REG_BINARY    2A00FF"), std::string::npos) << listed;
}

TEST_F(RegistryTest, OnlyTheProgramsOwnKeysOpenAndAReadOnlyKeyIsNotWritten) {
  platform::RegistryKey key;
  EXPECT_FALSE(key.OpenOrCreate("Software\\Other\\NF1"));
  EXPECT_FALSE(key.OpenOrCreate("Software\\Ostrand\\"));
  EXPECT_FALSE(key.OpenReadOnly("Software\\Ostrand\\NF1"));  // does not exist yet
  ASSERT_TRUE(key.OpenOrCreate("Software\\Ostrand\\NF1"));
  ASSERT_TRUE(key.WriteDword("AutoUpdate", 1));
  platform::RegistryKey reader;
  ASSERT_TRUE(reader.OpenReadOnly("Software\\Ostrand\\NF1"));
  EXPECT_FALSE(reader.WriteDword("AutoUpdate", 0));
  EXPECT_FALSE(reader.DeleteValue("AutoUpdate"));
  uint32_t value = 0;
  EXPECT_EQ(reader.ReadDword("AutoUpdate", value), platform::RegRead::kOk);
  EXPECT_EQ(value, 1u);
}

TEST_F(RegistryTest, SettingsSurviveTheProcessAndAbsentOnesHaveTheirDefaults) {
  {
    CSettings settings;
    EXPECT_FALSE(settings.GetLogEnabled());
    EXPECT_EQ(settings.GetLogLocation(), "");
    EXPECT_EQ(settings.GetInstallFolder(), "");
    EXPECT_EQ(settings.GetBuildStamp(), "");
    EXPECT_FALSE(settings.GetAutoUpdate());
  }
  {
    CSettings settings;
    settings.SetLogEnabled(true);
    settings.SetLogLocation("C:\\Nullifex Logs");
  }
  // Another process sees what this one wrote...
  const std::string listed = RunCommand("reg query \"" + SettingsKeyOutside() + "\"");
  EXPECT_NE(listed.find("LogEnabled    REG_DWORD    0x1"), std::string::npos) << listed;
  EXPECT_NE(listed.find("LogLoc    REG_SZ    C:\\Nullifex Logs"), std::string::npos) << listed;
  // ...and this one sees what another wrote, at once.
  RunCommand("reg add \"" + SettingsKeyOutside() + "\" /v LogEnabled /t REG_DWORD /d 0 /f");
  RunCommand("reg add \"" + SettingsKeyOutside() + "\" /v LogLoc /t REG_DWORD /d 5 /f");
  CSettings settings;
  EXPECT_FALSE(settings.GetLogEnabled());
  EXPECT_EQ(settings.GetLogLocation(), "");  // a value of the wrong type reads as its default
}

TEST_F(RegistryTest, TheLogKeepsItsLineEndsAsWritten) {
  const fs::path folder = fs::temp_directory_path() / ("nfx-log-" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(folder);
  {
    CSettings settings;
    settings.SetLogEnabled(true);
    settings.SetLogLocation(folder.string());
  }
  const std::string record = "Drive: E:\r\nResult: 0\r\n";
  ASSERT_TRUE(TheLogger().Append(record));
  TheLogger().Close();
  std::ifstream in(LogFilePath(folder.string()), std::ios::binary);
  const std::string log(std::istreambuf_iterator<char>(in), {});
  in.close();
  std::error_code ec;
  fs::remove_all(folder, ec);
  // The header comes first; nothing is put before a line feed on the way.
  EXPECT_NE(log.find("Operating System: Windows "), std::string::npos) << log;
  EXPECT_EQ(log.find("\r\r\n"), std::string::npos);
  ASSERT_GT(log.size(), record.size());
  EXPECT_EQ(log.substr(log.size() - record.size()), record);
}

// A 1.44 MB floppy image with a FAT12 boot sector and a label, mapped as M:
// by a drive map in a private application-data folder.
class MappedImageTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kSectors = 2880;

  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("nfx-win32-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir_ / "Ostrand");
    const char* appData = std::getenv("APPDATA");
    savedAppData_ = appData ? appData : "";
    _putenv_s("APPDATA", dir_.string().c_str());

    std::vector<uint8_t> image(kSectors * 512);
    for (size_t i = 512; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    const uint8_t boot[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.', '1',
                            0x00, 0x02,  // 512 bytes per sector
                            0x01,        // 1 sector per cluster
                            0x01, 0x00,  // 1 reserved sector
                            0x02,        // 2 FATs
                            0xE0, 0x00,  // 224 root entries
                            0x40, 0x0B,  // 2880 sectors
                            0xF0,        // media
                            0x09, 0x00,  // 9 sectors per FAT
                            0x12, 0x00, 0x02, 0x00};
    std::copy(std::begin(boot), std::end(boot), image.begin());
    image[38] = 0x29;
    std::memcpy(&image[43], "WINTEST    FAT12   ", 19);
    image[510] = 0x55;
    image[511] = 0xAA;
    imagePath_ = (dir_ / "floppy.img").string();
    std::ofstream(imagePath_, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    image_ = image;
    WriteMap("# test drives\n"
             "M: removable " + imagePath_ + "\n"
             "N: removable relative\\floppy.img\n"
             "C: removable " + imagePath_ + "\n");
  }
  void TearDown() override {
    _putenv_s("APPDATA", savedAppData_.c_str());
    platform::SetAskUser({});
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void WriteMap(const std::string& text) { std::ofstream(dir_ / "Ostrand" / "drives.conf", std::ios::binary) << text; }
  std::vector<uint8_t> ImageBytes() const {
    std::ifstream in(imagePath_, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::string savedAppData_;
  std::string imagePath_;
  std::vector<uint8_t> image_;
};

TEST_F(MappedImageTest, TheTableHasTheSystemDrivesAndTheMappedImage) {
  const platform::DriveTable table = platform::DriveTable::Load();
  char system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 2u);
  EXPECT_EQ(table.SystemDrive(), system[0]);
  const auto c = table.Find(system[0]);
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->system);
  EXPECT_FALSE(c->mapped);  // the map cannot take the system drive's letter
  EXPECT_EQ(c->path, std::string("\\\\.\\") + system[0] + ":");

  const auto m = table.Find('m');
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->mapped);
  EXPECT_EQ(m->type, platform::DRIVE_REMOVABLE);
  EXPECT_EQ(m->path, imagePath_);
  EXPECT_FALSE(table.Find('N'));  // a relative path is no mapping
  EXPECT_NE(table.GetLogicalDrives() & (1u << ('M' - 'A')), 0u);
  EXPECT_EQ(table.GetDriveType('M'), static_cast<uint32_t>(platform::DRIVE_REMOVABLE));
}

TEST_F(MappedImageTest, TheVolumeHandleReachesTheImageWithItsSizeAndFileSystem) {
  const platform::DriveTable table = platform::DriveTable::Load();
  auto backend = table.OpenBackend('M');
  ASSERT_TRUE(backend);
  // A file has no geometry: the size comes from its length.
  EXPECT_EQ(backend->DeviceSize(), uint64_t{kSectors} * 512);
  platform::VolumeInformation info;
  ASSERT_TRUE(backend->GetVolumeInformation(info));
  EXPECT_EQ(info.fileSystem, "FAT");
  EXPECT_EQ(info.label, "WINTEST");

  ASSERT_EQ(backend->Open(), 0u);
  std::vector<uint8_t> sectors(2 * 512);
  uint32_t done = 0;
  ASSERT_EQ(backend->SetPosition(100), 0u);
  ASSERT_EQ(backend->Read(sectors.data(), 1024, done), 0u);
  EXPECT_EQ(done, 1024u);
  EXPECT_TRUE(std::equal(sectors.begin(), sectors.end(), image_.begin() + 100 * 512));
  std::fill(sectors.begin(), sectors.end(), 0xA5);
  ASSERT_EQ(backend->SetPosition(kSectors - 2), 0u);
  ASSERT_EQ(backend->Write(sectors.data(), 1024, done), 0u);
  ASSERT_EQ(backend->Flush(), 0u);
  backend->Close();
  const std::vector<uint8_t> after = ImageBytes();
  ASSERT_EQ(after.size(), image_.size());
  EXPECT_TRUE(std::all_of(after.end() - 1024, after.end(), [](uint8_t b) { return b == 0xA5; }));
  EXPECT_TRUE(std::equal(after.begin(), after.end() - 1024, image_.begin()));

  // The viewer's read-only access never writes.
  auto reader = table.OpenBackend('M', true);
  ASSERT_TRUE(reader);
  ASSERT_EQ(reader->Open(), 0u);
  EXPECT_EQ(reader->Write(sectors.data(), 512, done), errc::kWriteProtect);
}

TEST_F(MappedImageTest, TheControllerRecognisesTheFloppyAndFindsItsLastSector) {
  CDriveController drive;
  ASSERT_TRUE(drive.OpenDrive('m')) << drive.GetLastErrorCode();
  EXPECT_EQ(drive.GetFileSystemType(), FS_FAT12);
  EXPECT_EQ(drive.GetFirstDataSector(), 224u * 32 / 512 + 9 * 2 + 1);
  EXPECT_EQ(drive.GetLastSector(), kSectors - 1);
  char label[12] = {};
  EXPECT_TRUE(CDriveController::GetVolumeLabel('M', label, sizeof label));
  EXPECT_STREQ(label, "WINTEST");
  EXPECT_TRUE(CDriveController::GetVolumeLabel('Q', label, sizeof label));
  EXPECT_STREQ(label, "N/A");
}

TEST_F(MappedImageTest, WithoutTheFormatLibraryTheFormatFailsWithItsMessage) {
  if (HMODULE library = LoadLibraryA("fmifs.dll")) {
    FreeLibrary(library);
    GTEST_SKIP() << "this system has the format library";
  }
  std::vector<std::string> asked;
  platform::SetAskUser([&](const std::string& text, const std::string& title, int, int) {
    asked.push_back(title + ": " + text);
    return ResultOk;
  });
  CDriveController drive;
  ASSERT_TRUE(drive.OpenDrive('M'));
  drive.CloseDrive();
  std::vector<uint32_t> commands;
  EXPECT_FALSE(drive.FormatDrive('M', "CLEANED", true,
                                 [&](uint32_t command, uint32_t, void*) {
                                   commands.push_back(command);
                                   return true;
                                 },
                                 32));
  EXPECT_EQ(asked, std::vector<std::string>{"Error: Failed to load FMIFS entry points."});
  EXPECT_TRUE(commands.empty());
  EXPECT_EQ(ImageBytes(), image_);  // nothing was written
}

}  // namespace
