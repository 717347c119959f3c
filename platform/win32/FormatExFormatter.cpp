// The formatter on Windows: FormatEx of the system's format library
// "fmifs.dll", looked up at run time (the library is not documented and
// not on every installation). Its callback carries no context, so the
// observer of the running format is process-wide: one format at a time.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "platform/Formatter.h"

namespace platform {
namespace {

using FormatCallbackFn = BOOLEAN(WINAPI*)(int command, DWORD subAction, PVOID info);
using FormatExFn = VOID(WINAPI*)(PWCHAR driveRoot, DWORD mediaType, PWCHAR fileSystem, PWCHAR label, BOOL quick,
                                 DWORD clusterSize, FormatCallbackFn callback);

constexpr int kProgress = 0;
constexpr int kDone = 11;
constexpr int kOutput = 14;
constexpr DWORD kMediaFixed = 12;
constexpr DWORD kMediaRemovable = 8;

struct TextOutput {
  DWORD lines;
  PCHAR output;
};

// FormatEx and EnableVolumeCompression both, or nothing: a library without
// both is not the format library the program was made for. The library is
// loaded on every look-up and never released.
FormatExFn LoadFormatEntryPoints() {
  HMODULE library = LoadLibraryA("fmifs.dll");
  if (!library) return nullptr;
  FARPROC format = GetProcAddress(library, "FormatEx");
  FARPROC compression = GetProcAddress(library, "EnableVolumeCompression");
  if (!format || !compression) return nullptr;
  return reinterpret_cast<FormatExFn>(reinterpret_cast<void*>(format));
}

std::mutex g_running;  // one format at a time
FormatObserver* g_observer = nullptr;
std::atomic<bool> g_doneSeen{false};
std::atomic<bool> g_abandoned{false};

BOOLEAN WINAPI OnFormatEvent(int command, DWORD, PVOID info) {
  FormatObserver* observer = g_observer;
  if (!observer || !info) return TRUE;
  bool goOn = true;
  switch (command) {
    case kProgress: goOn = observer->Percent(*static_cast<DWORD*>(info)); break;
    case kOutput:
      if (const auto* text = static_cast<const TextOutput*>(info); text->output) goOn = observer->Text(text->output);
      break;
    case kDone:
      if (!g_doneSeen.exchange(true)) observer->Done(*static_cast<BOOLEAN*>(info) != 0 && !g_abandoned);
      break;
    default: break;
  }
  if (!goOn) g_abandoned = true;
  return goOn ? TRUE : FALSE;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

const wchar_t* FileSystemName(FormatKind kind) {
  switch (kind) {
    case FormatKind::kNtfs: return L"NTFS";
    case FormatKind::kFat32: return L"FAT32";
    default: return L"FAT";  // FAT12 and FAT16: the library picks by size
  }
}

class FormatExFormatter : public Formatter {
 public:
  bool Available(FormatKind) const override { return LoadFormatEntryPoints() != nullptr; }

  void Format(const FormatRequest& request, FormatObserver& observer) override {
    const FormatExFn formatEx = LoadFormatEntryPoints();
    if (!formatEx || request.letter == 0) {
      observer.Done(false);
      return;
    }
    std::lock_guard lock(g_running);
    wchar_t root[] = {static_cast<wchar_t>(request.letter), L':', L'\\', 0};
    std::wstring fileSystem = FileSystemName(request.kind);
    // At most eleven characters and the terminator, zero-filled.
    wchar_t label[12] = {};
    const std::wstring wide = Widen(FitLabel(request.kind, request.label));
    wide.copy(label, 11);
    g_observer = &observer;
    g_doneSeen = false;
    g_abandoned = false;
    formatEx(root, request.removable ? kMediaRemovable : kMediaFixed, fileSystem.data(), label,
             request.quick ? TRUE : FALSE, 0, OnFormatEvent);
    g_observer = nullptr;
    // An attempt that never said it was done has not failed, unless it
    // was abandoned.
    if (!g_doneSeen) observer.Done(!g_abandoned);
  }
};

}  // namespace

Formatter& SystemFormatter() {
  static FormatExFormatter formatter;
  return formatter;
}

}  // namespace platform
