#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "TempConfig.h"
#include "platform/RegistryStore.h"

using platform::RegistryKey;
using platform::RegRead;

namespace {
constexpr char kKey[] = "Software\\Ostrand\\NF1";

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
}  // namespace

class RegistryStoreTest : public TempConfigTest {};

TEST_F(RegistryStoreTest, KeyPathsMapToFilesUnderTheConfigFolder) {
  EXPECT_EQ(platform::RegistryKeyFile(kKey), platform::ConfigDir() + "/NF1.reg");
  EXPECT_EQ(platform::RegistryKeyFile("software\\OSTRAND\\NF1\\Sub"), platform::ConfigDir() + "/NF1/Sub.reg");
  for (const char* bad : {"Software\\Other\\NF1", "Software\\Ostrand\\", "Software\\Ostrand\\..",
                          "Software\\Ostrand\\a\\\\b", "Software\\Ostrand\\a/b", "NF1", ""}) {
    EXPECT_EQ(platform::RegistryKeyFile(bad), "") << bad;
    RegistryKey key;
    EXPECT_FALSE(key.OpenOrCreate(bad)) << bad;
  }
  EXPECT_FALSE(std::filesystem::exists(platform::ConfigDir() + "/../b.reg"));
}

TEST_F(RegistryStoreTest, OpenOrCreateLeavesAnEmptyKeyAndReadOnlyNeverCreates) {
  RegistryKey key;
  EXPECT_FALSE(key.OpenReadOnly(kKey));
  EXPECT_FALSE(std::filesystem::exists(KeyFile()));

  ASSERT_TRUE(key.OpenOrCreate(kKey));
  key.Close();
  EXPECT_EQ(ReadFile(KeyFile()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Ostrand\\NF1]\n");

  ASSERT_TRUE(key.OpenReadOnly(kKey));
  EXPECT_FALSE(key.WriteDword("X", 1));
  EXPECT_FALSE(key.ValueExists("X"));
}

TEST_F(RegistryStoreTest, ValuesRoundTripAsReadableTextWithTypedOutcomes) {
  RegistryKey key;
  ASSERT_TRUE(key.OpenOrCreate(kKey));
  ASSERT_TRUE(key.WriteDword("LogEnabled", 1));
  ASSERT_TRUE(key.WriteDword("Big", 0xfedcba98u));
  ASSERT_TRUE(key.WriteString("LogLoc", "C:\\My \"Logs\"\\"));
  ASSERT_TRUE(key.WriteString("Empty", ""));
  ASSERT_TRUE(key.WriteString("Latin", "caf\xe9"));
  ASSERT_TRUE(key.WriteRaw("Local2", platform::kRegBinary, {0x2a, 0x00, 0xff}));
  ASSERT_TRUE(key.WriteRaw("Odd", 7, {0x61, 0x00, 0x00}));

  const std::string text = ReadFile(KeyFile());
  for (const char* line : {"\"LogEnabled\"=dword:00000001\n", "\"Big\"=dword:fedcba98\n",
                           "\"LogLoc\"=\"C:\\\\My \\\"Logs\\\"\\\\\"\n", "\"Empty\"=\"\"\n",
                           "\"Local2\"=hex:2a,00,ff\n", "\"Odd\"=hex(7):61,00,00\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }

  uint32_t d = 0;
  std::string s;
  std::vector<uint8_t> raw;
  uint32_t type = 0, size = 0;
  EXPECT_EQ(key.ReadDword("logenabled", d), RegRead::kOk);  // names ignore case
  EXPECT_EQ(d, 1u);
  EXPECT_EQ(key.ReadDword("Big", d), RegRead::kOk);
  EXPECT_EQ(d, 0xfedcba98u);
  EXPECT_EQ(key.ReadString("LogLoc", s), RegRead::kOk);
  EXPECT_EQ(s, "C:\\My \"Logs\"\\");
  EXPECT_EQ(key.ReadString("Latin", s), RegRead::kOk);
  EXPECT_EQ(s, "caf\xe9");
  EXPECT_EQ(key.ReadString("Empty", s), RegRead::kOk);
  EXPECT_EQ(s, "");

  EXPECT_EQ(key.ReadDword("LogLoc", d), RegRead::kWrongType);
  EXPECT_EQ(key.ReadString("LogEnabled", s), RegRead::kWrongType);
  EXPECT_EQ(key.ReadString("Local2", s), RegRead::kWrongType);
  EXPECT_EQ(key.ReadDword("Nope", d), RegRead::kMissing);
  EXPECT_EQ(key.ReadString("Nope", s), RegRead::kMissing);
  EXPECT_EQ(key.ValueSize("Nope", size), RegRead::kMissing);

  // Raw reads take any type, as the registry stores it.
  EXPECT_EQ(key.ReadRaw("Big", raw, &type), RegRead::kOk);
  EXPECT_EQ(raw, (std::vector<uint8_t>{0x98, 0xba, 0xdc, 0xfe}));
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(key.ReadRaw("Empty", raw, &type), RegRead::kOk);
  EXPECT_EQ(raw, std::vector<uint8_t>{0});
  EXPECT_EQ(key.ValueSize("LogLoc", size), RegRead::kOk);
  EXPECT_EQ(size, 14u);  // 13 characters and the terminator

  // Overwriting keeps one line per value; deleting removes it.
  ASSERT_TRUE(key.WriteString("LOGENABLED", "now text"));
  ASSERT_TRUE(key.DeleteValue("Big"));
  EXPECT_EQ(key.ReadString("LogEnabled", s), RegRead::kOk);
  EXPECT_EQ(s, "now text");
  EXPECT_FALSE(key.ValueExists("Big"));
  const std::string after = ReadFile(KeyFile());
  EXPECT_EQ(after.find("\"LogEnabled\"=\"now text\"\n"), after.rfind("LogEnabled") - 1);

  key.Close();
  EXPECT_EQ(key.ReadDword("LogEnabled", d), RegRead::kMissing);
  EXPECT_FALSE(key.WriteDword("LogEnabled", 0));
}

TEST_F(RegistryStoreTest, StringsWithLineBreaksCannotForgeOtherValues) {
  RegistryKey key;
  ASSERT_TRUE(key.OpenOrCreate(kKey));
  const std::string folder = "/tmp/x\n\"Update\"=dword:00000000\r\n[HKEY_CURRENT_USER\\Other]";
  ASSERT_TRUE(key.WriteString("LogLoc", folder));
  std::string s;
  EXPECT_EQ(key.ReadString("LogLoc", s), RegRead::kOk);
  EXPECT_EQ(s, folder);
  EXPECT_FALSE(key.ValueExists("Update"));
  std::vector<platform::RegistryValue> values;
  EXPECT_TRUE(platform::ParseRegistryText(ReadFile(KeyFile()), values));
  EXPECT_EQ(values.size(), 1u);
}

TEST_F(RegistryStoreTest, HandEditedFilesAreUnderstood) {
  WriteFile(KeyFile(),
            "REGEDIT4\r\n\r\n; written by hand\r\n[HKEY_CURRENT_USER\\Software\\Ostrand\\NF1]\r\n"
            "\"LogEnabled\" = dword:1\r\n"
            "  \"Local2\"=hex:41,42,\\\r\n  43,44\r\n"
            "\"Path\"=hex(2):25,00\r\n"
            "@=\"default\"\r\n"
            "\"LogLoc\"=\"first\"\r\n"
            "\"LOGLOC\"=\"second\"\r\n");
  RegistryKey key;
  ASSERT_TRUE(key.OpenReadOnly(kKey));
  uint32_t d = 0;
  std::string s;
  std::vector<uint8_t> raw;
  uint32_t type = 0;
  EXPECT_EQ(key.ReadDword("LogEnabled", d), RegRead::kOk);
  EXPECT_EQ(d, 1u);
  EXPECT_EQ(key.ReadRaw("Local2", raw), RegRead::kOk);
  EXPECT_EQ(raw, Bytes("ABCD"));
  EXPECT_EQ(key.ReadRaw("Path", raw, &type), RegRead::kOk);
  EXPECT_EQ(type, 2u);
  EXPECT_EQ(key.ReadString("Path", s), RegRead::kWrongType);
  EXPECT_EQ(key.ReadString("", s), RegRead::kOk);
  EXPECT_EQ(s, "default");
  EXPECT_EQ(key.ReadString("LogLoc", s), RegRead::kOk);
  EXPECT_EQ(s, "second");  // the later line wins, as an import would have it
}

TEST_F(RegistryStoreTest, DamagedLinesReadAsMissingAndWritesKeepTheRest) {
  struct Case {
    const char* line;
    const char* name;  // the value the line tries to define
  };
  const Case damaged[] = {
      {"\"LogLoc\"=\"/home/us", "LogLoc"},       // cut off inside the text
      {"\"UIL\"=\"a\"b\"", "UIL"},               // stray quote
      {"\"Update\"=dword:123456789", "Update"},  // nine digits
      {"\"DNS\"=dword:", "DNS"},
      {"\"UpdateTime\"=dword:12x4", "UpdateTime"},
      {"\"Local4\"=hex:4", "Local4"},            // half a byte
      {"\"Local5\"=hex:41,,42", "Local5"},
      {"\"Dliubruc\"=hex(1:41,00", "Dliubruc"},
      {"\"Bad\\q\"=\"x\"", "Bad\\q"},            // unknown escape
      {"\"Gone\"=-", "Gone"},
      {"garbage \x01\x02", ""},
      {"\"Tail\"=hex:41,\\", "Tail"},            // continuation cut off at the end
  };
  std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Ostrand\\NF1]\n\"Keep1\"=dword:00000007\n";
  for (const Case& c : damaged) {
    std::vector<platform::RegistryValue> values;
    EXPECT_FALSE(platform::ParseRegistryText(std::string(c.line) + "\n", values)) << c.line;
    EXPECT_TRUE(values.empty()) << c.line;
  }
  // All of them together, between two good lines, the cut-off one last.
  for (const Case& c : damaged) {
    if (std::string(c.name) == "Tail") continue;
    text += std::string(c.line) + "\n";
  }
  // A list cut off before a good line does not swallow it.
  text += "\"Cut\"=hex:41,\\\n\"Keep2\"=\"two\"\n\"Tail\"=hex:41,\\";
  WriteFile(KeyFile(), text);

  RegistryKey key;
  ASSERT_TRUE(key.OpenOrCreate(kKey));
  for (const Case& c : damaged) EXPECT_FALSE(key.ValueExists(c.name)) << c.name;
  EXPECT_FALSE(key.ValueExists("Cut"));
  uint32_t d = 0;
  std::string s;
  EXPECT_EQ(key.ReadDword("Keep1", d), RegRead::kOk);
  EXPECT_EQ(key.ReadString("Keep2", s), RegRead::kOk);

  ASSERT_TRUE(key.WriteDword("New", 3));
  EXPECT_EQ(key.ReadDword("Keep1", d), RegRead::kOk);
  EXPECT_EQ(d, 7u);
  EXPECT_EQ(key.ReadString("Keep2", s), RegRead::kOk);
  EXPECT_EQ(s, "two");
  EXPECT_EQ(key.ReadDword("New", d), RegRead::kOk);
  // The rewritten file is clean, and the damaged one is kept beside it.
  std::vector<platform::RegistryValue> values;
  EXPECT_TRUE(platform::ParseRegistryText(ReadFile(KeyFile()), values));
  EXPECT_EQ(values.size(), 3u);
  EXPECT_EQ(ReadFile(KeyFile() + ".damaged"), text);
}

TEST_F(RegistryStoreTest, ALinkedKeyFileStaysALinkAndNamesStayOnOneLine) {
  const std::string real = root_ + "/dotfiles/NF1.reg";
  WriteFile(real, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Ostrand\\NF1]\n\"A\"=dword:00000001\n");
  std::filesystem::create_directories(platform::ConfigDir());
  std::filesystem::create_symlink(real, KeyFile());
  RegistryKey key;
  ASSERT_TRUE(key.OpenOrCreate(kKey));
  ASSERT_TRUE(key.WriteDword("B", 2));
  EXPECT_TRUE(std::filesystem::is_symlink(KeyFile()));
  EXPECT_NE(ReadFile(real).find("\"A\"=dword:00000001\n\"B\"=dword:00000002\n"), std::string::npos);

  for (const std::string& name : {std::string("two\nlines"), std::string("cr\r"), std::string("nul\0x", 5)}) {
    EXPECT_FALSE(key.WriteDword(name, 1));
    EXPECT_FALSE(key.WriteString(name, "v"));
    EXPECT_FALSE(key.WriteRaw(name, platform::kRegBinary, {1}));
  }
  std::vector<platform::RegistryValue> values;
  EXPECT_TRUE(platform::ParseRegistryText(ReadFile(real), values));
  EXPECT_EQ(values.size(), 2u);
}

TEST_F(RegistryStoreTest, ConcurrentThreadsNeverLoseEachOthersValues) {
  constexpr int kThreads = 6, kEach = 20;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) {
        RegistryKey key;  // each thread its own accessor, as CSettings does
        ASSERT_TRUE(key.OpenOrCreate(kKey));
        ASSERT_TRUE(key.WriteDword("T" + std::to_string(t) + "_" + std::to_string(i),
                                   static_cast<uint32_t>(t * 1000 + i)));
      }
    });
  }
  for (auto& th : threads) th.join();
  RegistryKey key;
  ASSERT_TRUE(key.OpenReadOnly(kKey));
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEach; ++i) {
      uint32_t d = 0;
      ASSERT_EQ(key.ReadDword("T" + std::to_string(t) + "_" + std::to_string(i), d), RegRead::kOk);
      EXPECT_EQ(d, static_cast<uint32_t>(t * 1000 + i));
    }
  }
}

namespace {
// Runs in a forked child: only system calls and the store, then _exit.
// With `bigBytes`, each round also rewrites a value that size, so most of a
// round is spent writing the file and a kill lands in the middle of one.
[[noreturn]] void WriteValuesAndExit(const char* prefix, int count, size_t bigBytes = 0) {
  bool ok = true;
  const std::vector<uint8_t> big(bigBytes, 0x5a);
  for (int i = 0; i < count; ++i) {
    RegistryKey key;
    ok = key.OpenOrCreate(kKey) && key.WriteString(prefix + std::to_string(i), "v") && ok;
    if (bigBytes) ok = key.WriteRaw("Big", platform::kRegBinary, big) && ok;
  }
  _exit(ok ? 0 : 1);
}
}  // namespace

TEST_F(RegistryStoreTest, TwoProcessesNeverLoseEachOthersValues) {
  constexpr int kEach = 40;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) WriteValuesAndExit("Child", kEach);
  for (int i = 0; i < kEach; ++i) {
    RegistryKey key;
    ASSERT_TRUE(key.OpenOrCreate(kKey));
    ASSERT_TRUE(key.WriteString("Parent" + std::to_string(i), "v"));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  RegistryKey key;
  ASSERT_TRUE(key.OpenReadOnly(kKey));
  for (int i = 0; i < kEach; ++i) {
    EXPECT_TRUE(key.ValueExists("Parent" + std::to_string(i))) << i;
    EXPECT_TRUE(key.ValueExists("Child" + std::to_string(i))) << i;
  }
}

TEST_F(RegistryStoreTest, AWriterKilledMidWayLeavesAFileThatReads) {
  {
    RegistryKey key;
    ASSERT_TRUE(key.OpenOrCreate(kKey));
    ASSERT_TRUE(key.WriteString("Before", "kept"));
  }
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) WriteValuesAndExit("Killed", 1000000, 64 * 1024);
  // Let it get well into its writes, then kill it wherever it is.
  RegistryKey key;
  ASSERT_TRUE(key.OpenReadOnly(kKey));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  // Meanwhile every read must see a whole file, old or new, never a torn one.
  int reads = 0, torn = 0;
  while (!key.ValueExists("Killed20") && std::chrono::steady_clock::now() < deadline) {
    std::vector<platform::RegistryValue> seen;
    const bool clean = platform::ParseRegistryText(ReadFile(KeyFile()), seen);
    torn += !clean || seen.empty() || seen[0].name != "Before";
    ++reads;
  }
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  std::vector<platform::RegistryValue> values;
  EXPECT_TRUE(platform::ParseRegistryText(ReadFile(KeyFile()), values));
  std::string s;
  EXPECT_EQ(key.ReadString("Before", s), RegRead::kOk);
  EXPECT_EQ(s, "kept");
  EXPECT_TRUE(key.ValueExists("Killed20"));
  std::vector<uint8_t> big;
  EXPECT_EQ(key.ReadRaw("Big", big), RegRead::kOk);
  EXPECT_EQ(big.size(), 64u * 1024);
  // Its lock died with it: the next writer is not held up.
  RegistryKey writer;
  ASSERT_TRUE(writer.OpenOrCreate(kKey));
  EXPECT_TRUE(writer.WriteString("After", "ok"));
  EXPECT_TRUE(writer.ValueExists("Before"));
}
