#include "widgets/DriveList.h"

#include <cctype>
#include <cstdio>

#include "platform/qt/Ansi.h"

namespace {
DriveListSource& Source() {
  static DriveListSource source;
  return source;
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

platform::DriveTable Snapshot() {
  const DriveListSource& s = GetDriveListSource();
  if (s.table) return s.table();
  return platform::DriveTable({});
}

std::string ItemAnsi(const QComboBox& list, int index) {
  return platform::ToAnsi(list.itemText(index));
}
}  // namespace

void SetDriveListSource(DriveListSource source) { Source() = std::move(source); }
const DriveListSource& GetDriveListSource() { return Source(); }

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  connect(this, &QComboBox::activated, this, &TDriveComboBox::ItemPicked);
  ListDrives(Snapshot());
}

void TDriveComboBox::ListDrives(const platform::DriveTable& table) {
  clear();
  drive_ = 0;
  const uint32_t mask = table.GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(mask & (1u << i))) continue;
    const char letter = static_cast<char>('a' + i);
    const uint32_t type = table.GetDriveType(Upper(letter));
    if (type >= platform::DRIVE_REMOVABLE && type <= platform::DRIVE_RAMDISK) {
      addItem(QString(QChar(letter)) + QLatin1Char(':'));
    }
  }
  setCurrentIndex(-1);
}

void TDriveComboBox::SetDrive(char letter) {
  if (currentIndex() >= 0 && Lower(letter) == drive_) return;
  if (letter == 0) {
    drive_ = 0;
    setCurrentIndex(-1);
    return;
  }
  drive_ = Lower(letter);
  for (int i = 0; i < count(); ++i) {
    const std::string text = ItemAnsi(*this, i);
    if (text.size() >= 2 && Lower(text[0]) == drive_ && text[1] == ':') {
      setCurrentIndex(i);
      break;
    }
  }
  emit DriveChanged();
}

void TDriveComboBox::ItemPicked(int index) {
  const std::string text = ItemAnsi(*this, index);
  if (!text.empty()) SetDrive(text[0]);
}

void FillDriveList(TDriveComboBox& list, char letter) {
  const platform::DriveTable table = Snapshot();
  const auto& readLabel = GetDriveListSource().volumeLabel;
  for (int i = 0; i < list.count();) {
    const std::string item = ItemAnsi(list, i);
    const char drive = item.empty() ? 0 : Upper(item[0]);
    const uint32_t type = table.GetDriveType(drive);
    if (type == platform::DRIVE_REMOTE || type == platform::DRIVE_CDROM ||
        type == platform::DRIVE_RAMDISK) {
      list.removeItem(i);  // the next item moves into place i
      continue;
    }
    // Room for 11 label characters and the terminator: a longer label does
    // not fit and reads as "N/A".
    char label[12] = {};
    if (!readLabel || !readLabel(drive, label, sizeof label)) std::snprintf(label, sizeof label, "N/A");
    label[sizeof label - 1] = 0;
    const std::string name(label);
    std::string text;
    if (!name.empty() && name != "N/A") {
      text = std::string(1, drive) + ": " + name;
    } else if (drive == 'A') {
      text = "A: 3\xBD Floppy";
    } else if (type == platform::DRIVE_REMOVABLE) {
      text = std::string(1, drive) + ": Removable Media";
    } else {
      text = std::string(1, drive) + ": Local Disk";
    }
    list.setItemText(i, platform::FromAnsi(text));
    ++i;
  }
  for (int i = 0; i < list.count(); ++i) {
    const std::string item = ItemAnsi(list, i);
    if (!item.empty() && Upper(item[0]) == Upper(letter)) {
      list.setCurrentIndex(i);
      break;
    }
  }
  list.SetDrive(letter);
}

std::string FormatThousands(uint64_t value) {
  if (value == 0) return "0";
  // Every group with three digits, the lowest first put in place, each
  // higher one in front with a comma; then the leading zeros go.
  auto group = [](uint64_t g) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%03u", static_cast<unsigned>(g % 1000));
    return std::string(digits);
  };
  std::string text = group(value);
  for (value /= 1000; value != 0; value /= 1000) text = group(value) + "," + text;
  const size_t first = text.find_first_not_of('0');
  return text.substr(first);
}

std::string FormatThousands(uint32_t value) { return FormatThousands(uint64_t{value}); }

std::string FormatThousands(int32_t value) { return FormatThousands(static_cast<uint32_t>(value)); }
